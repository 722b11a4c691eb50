// Posted messages between the engine's workers and the user-interface thread.
// The numbers are the application's own; the GUI turns each into a custom
// event of the same type number posted to the receiving object, the command
// line into a queued callback. The engine only ever posts.
#pragma once

#include <cstdint>

namespace veld {

enum WindowMessage : int {
    MsgSearchFinished = 3025,      // wParam: search result code
    MsgFoundFile = 3026,           // one more found file is registered
    MsgDeferredStart = 3028,       // splash closed: deferred start-up
    MsgUpdateResult = 4025,        // wParam: 0 current, 1 newer, 2 failed
    MsgProgressCancel = 31024,     // wParam -1: cancel request; 0: dialog closed
    MsgCommonProgressState = 31125 // wParam 0 on open, 1 on close
};

class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    // Must be safe to call from any thread; returns at once.
    virtual void PostMessage(int message, intptr_t wParam, intptr_t lParam) = 0;
};

}  // namespace veld
