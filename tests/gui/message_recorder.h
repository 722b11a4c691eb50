// A window that records the messages posted or sent to it, and a short pump
// of the event loop, for tests of windows that talk to their owner.
#pragma once

#include <QCoreApplication>
#include <QWidget>

#include <utility>
#include <vector>

#include "ui/posted_message.h"

namespace veld::guitest {

class MessageRecorder : public QWidget {
public:
    std::vector<std::pair<int, intptr_t>> messages;  // (message, wParam)

protected:
    bool event(QEvent* e) override {
        if (auto* m = dynamic_cast<veld::PostedMessage*>(e)) {
            messages.emplace_back(m->message(), m->wParam);
            return true;
        }
        return QWidget::event(e);
    }
};

inline void Pump() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

}  // namespace veld::guitest
