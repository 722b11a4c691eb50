// Work that may wait long outside the program - opening a card through
// UDisks2, which waits for polkit's password dialog - run on a thread of its
// own while the interface keeps painting. User input waits until the work is
// done (the window stays as it was), so nothing can change under it.
#pragma once

#include <functional>

namespace veld {

// Runs work on another thread and returns once it has finished; meanwhile
// the interface thread repaints and takes no user input.
void RunWhileInterfacePaints(const std::function<void()>& work);

}  // namespace veld
