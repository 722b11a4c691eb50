// Window messages as Qt events: the message number is the event type (all
// of them lie in Qt's user range), wParam and lParam ride along. A receiver
// overrides QObject::event (or customEvent) and switches on the type.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPointer>

#include "platform/window_message.h"

namespace veld {

class PostedMessage : public QEvent {
public:
    PostedMessage(int message, intptr_t wParam, intptr_t lParam)
        : QEvent(static_cast<QEvent::Type>(message)), wParam(wParam), lParam(lParam) {}
    int message() const { return int(type()); }
    const intptr_t wParam;
    const intptr_t lParam;
};

// Posts to one QObject from any thread; the event is delivered on the
// receiver's thread. Posting to a receiver that is gone does nothing.
class QtMessageTarget final : public MessageTarget {
public:
    explicit QtMessageTarget(QObject* receiver) : receiver_(receiver) {}
    void PostMessage(int message, intptr_t wParam, intptr_t lParam) override {
        QObject* receiver = receiver_.data();
        if (receiver) QCoreApplication::postEvent(receiver, new PostedMessage(message, wParam, lParam));
    }

private:
    QPointer<QObject> receiver_;
};

}  // namespace veld
