// A message target for front ends without an event loop (the command line,
// tests): it remembers the search-finished message and lets a thread wait
// for it. Other messages are ignored.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/window_message.h"

namespace veld {

class FinishWaiter final : public MessageTarget {
public:
    void PostMessage(int message, intptr_t wParam, intptr_t) override {
        if (message != MsgSearchFinished) return;
        std::lock_guard<std::mutex> guard(lock_);
        finished_ = true;
        result_ = int(wParam);
        done_.notify_all();
    }
    // Blocks until the search-finished message arrived; its result code.
    int Wait() {
        std::unique_lock<std::mutex> guard(lock_);
        done_.wait(guard, [&] { return finished_; });
        return result_;
    }
    // Waits at most timeoutMs: true (with the result code) once the message
    // has arrived, false when it has not yet.
    bool WaitFor(int timeoutMs, int* result) {
        std::unique_lock<std::mutex> guard(lock_);
        if (!done_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return finished_; })) return false;
        *result = result_;
        return true;
    }

private:
    std::mutex lock_;
    std::condition_variable done_;
    bool finished_ = false;
    int result_ = 0;
};

}  // namespace veld
