// Posted messages from the engine's workers to the front end. The numbers are
// the application's own; the GUI takes each on its interface thread and turns
// it into a named signal, the command line into a callback. The engine only
// ever posts.
#pragma once

#include <cstdint>

namespace veld {

enum WindowMessage : int {
    MsgSearchFinished = 3025,  // wParam: search result code
    MsgFoundFile = 3026,       // one more found file is registered
    MsgUpdateResult = 4025,    // wParam: 0 current, 1 newer, 2 failed
};

class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    // Must be safe to call from any thread; returns at once.
    virtual void PostMessage(int message, intptr_t wParam, intptr_t lParam) = 0;
};

}  // namespace veld
