// A short pump of the event loop, for tests of windows whose updates and
// signals arrive queued.
#pragma once

#include <QCoreApplication>

namespace veld::guitest {

inline void Pump() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

}  // namespace veld::guitest
