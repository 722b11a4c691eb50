#include "finder/thumbnail_pool.h"

#include <algorithm>

#include "base/trace.h"

namespace veld {

ThumbnailPool::ThumbnailPool(unsigned threads, std::function<bool()> cancelled)
    : cancelled_(std::move(cancelled)), queueLimit_(4 * std::max(1u, threads)) {
    for (unsigned i = 0; i < std::max(1u, threads); ++i) workers_.emplace_back(&ThumbnailPool::WorkerLoop, this);
}

ThumbnailPool::~ThumbnailPool() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : workers_) t.join();
}

unsigned ThumbnailPool::SpareCores() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 1 ? cores - 1 : 0;
}

void ThumbnailPool::Run(ThumbnailJob& job) {
    DibPtr thumbnail;
    bool corrupt = false;
    if (!(cancelled_ && cancelled_())) {
        try {
            thumbnail = DecodeFoundFileThumbnail(job.bytes, &corrupt);
        } catch (...) {
            TraceLine("ERROR thumbnail of found file #%d failed: %s", int(job.index), CaughtExceptionText().c_str());
        }
    }
    std::lock_guard<std::mutex> hold(lock_);
    job.thumbnail = std::move(thumbnail);
    job.corrupt = corrupt;
    job.bytes = FoundFileBytes{};
    job.done = true;
    changed_.notify_all();
}

void ThumbnailPool::WorkerLoop() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        changed_.wait(hold, [&] { return stop_ || waiting_ > 0; });
        if (stop_) return;
        auto next = std::find_if(jobs_.begin(), jobs_.end(), [](const auto& j) { return !j->started; });
        ThumbnailJob& job = **next;
        job.started = true;
        --waiting_;
        hold.unlock();
        Run(job);
        hold.lock();
    }
}

void ThumbnailPool::Add(std::unique_ptr<ThumbnailJob> job) {
    ThumbnailJob* self = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (waiting_ >= queueLimit_) {
            job->started = true;
            self = job.get();
        } else {
            ++waiting_;
        }
        jobs_.push_back(std::move(job));
    }
    if (self)
        Run(*self);
    else
        changed_.notify_one();
}

size_t ThumbnailPool::Unpublished() const {
    std::lock_guard<std::mutex> hold(lock_);
    return jobs_.size();
}

void ThumbnailPool::Publish(bool wait, const std::function<void(ThumbnailJob&)>& publish) {
    for (;;) {
        std::unique_ptr<ThumbnailJob> job;
        {
            std::unique_lock<std::mutex> hold(lock_);
            if (jobs_.empty()) return;
            if (!jobs_.front()->done) {
                if (!wait) return;
                changed_.wait(hold, [&] { return jobs_.front()->done; });
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        publish(*job);
    }
}

}  // namespace veld
