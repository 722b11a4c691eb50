// Where the engine's workers post their messages in the GUI: a worker posts
// from its own thread, and the handler runs later on the thread of the
// context object, in the order the messages were posted. Once the context
// object is gone, messages still queued for it are dropped. The target must
// live as long as its context (a member of the object that handles it).
#pragma once

#include <QMetaObject>
#include <QObject>
#include <functional>
#include <utility>

#include "platform/window_message.h"

namespace veld {

class QueuedMessageTarget final : public MessageTarget {
public:
    using Handler = std::function<void(int message, intptr_t wParam, intptr_t lParam)>;

    QueuedMessageTarget(QObject* context, Handler handler) : context_(context), handler_(std::move(handler)) {}

    // Any thread; returns at once.
    void PostMessage(int message, intptr_t wParam, intptr_t lParam) override {
        QMetaObject::invokeMethod(
            context_, [this, message, wParam, lParam] { handler_(message, wParam, lParam); }, Qt::QueuedConnection);
    }

private:
    QObject* context_;
    Handler handler_;
};

}  // namespace veld
