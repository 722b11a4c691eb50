#include "finder/thumbnail_pool.h"

#include <algorithm>

#include "base/trace.h"

namespace veld {

ThumbnailPool::ThumbnailPool(ThumbnailPoolSetup setup) : setup_(std::move(setup)) {
    for (unsigned i = 0; i < std::max(1u, setup_.threads); ++i) workers_.emplace_back(&ThumbnailPool::WorkerLoop, this);
}

ThumbnailPool::~ThumbnailPool() {
    Finish();
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

ThumbnailJob* ThumbnailPool::NextJob() {
    const bool readNow = setup_.readBesideSearch || finishing_;
    // Thumbnails made before each job in the order added: published ones and
    // finished ones still waiting for those before them.
    int64_t before = publishedThumbnails_;
    for (const auto& j : jobs_) {
        ThumbnailJob& job = *j;
        if (job.done) {
            if (job.thumbnail) ++before;
            continue;
        }
        if (job.started) continue;
        const bool held = job.bytes.size > 0;
        if (before >= setup_.limit) {
            job.skipped = true;
        } else if (!held && !readNow) {
            continue;
        }
        job.started = true;
        if (held) heldBytes_ -= std::min<uint64_t>(heldBytes_, job.bytes.size);
        return &job;
    }
    return nullptr;
}

void ThumbnailPool::Run(ThumbnailJob& job) {
    DibPtr thumbnail;
    bool corrupt = false;
    if (!job.skipped && !(setup_.cancelled && setup_.cancelled())) {
        try {
            if (job.bytes.size == 0 && setup_.read) {
                // Sources read with a position of their own (seek, then read)
                // take one reader at a time.
                std::unique_lock<std::mutex> one(reading_, std::defer_lock);
                if (!setup_.readBesideSearch) one.lock();
                if (std::optional<FoundFileBytes> bytes = setup_.read(job)) job.bytes = std::move(*bytes);
            }
            if (job.bytes.size > 0) thumbnail = DecodeFoundFileThumbnail(job.bytes, &corrupt, setup_.cancelled);
        } catch (...) {
            TraceLine("ERROR thumbnail of found file #%d failed: %s", int(job.index), CaughtExceptionText().c_str());
        }
    }
    FoundFileBytes bytes = std::move(job.bytes);
    {
        std::lock_guard<std::mutex> hold(lock_);
        job.thumbnail = std::move(thumbnail);
        job.corrupt = corrupt;
        job.bytes = FoundFileBytes{};
        job.done = true;
    }
    changed_.notify_all();
    bytes = FoundFileBytes{};  // freed outside the lock
    PublishFinished();
}

void ThumbnailPool::PublishFinished() {
    std::lock_guard<std::mutex> order(publishing_);
    for (;;) {
        std::unique_ptr<ThumbnailJob> job;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (jobs_.empty() || !jobs_.front()->done) break;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            if (job->thumbnail) ++publishedThumbnails_;
        }
        if (setup_.publish) setup_.publish(*job);
    }
    changed_.notify_all();
}

void ThumbnailPool::WorkerLoop() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        if (stop_) return;
        ThumbnailJob* job = NextJob();
        if (!job) {
            changed_.wait(hold);
            continue;
        }
        hold.unlock();
        Run(*job);
        hold.lock();
    }
}

void ThumbnailPool::Add(std::unique_ptr<ThumbnailJob> job) {
    FoundFileBytes dropped;
    {
        std::lock_guard<std::mutex> hold(lock_);
        job->started = job->done = false;
        if (job->bytes.size > 0) {
            if (heldBytes_ + job->bytes.size > setup_.heldBytesLimit) {
                dropped = std::move(job->bytes);  // read again when its turn comes
                job->bytes = FoundFileBytes{};
            } else {
                heldBytes_ += job->bytes.size;
            }
        }
        jobs_.push_back(std::move(job));
    }
    changed_.notify_one();
}

size_t ThumbnailPool::Unpublished() const {
    std::lock_guard<std::mutex> hold(lock_);
    return jobs_.size();
}

void ThumbnailPool::Finish() {
    std::unique_lock<std::mutex> hold(lock_);
    finishing_ = true;
    changed_.notify_all();
    while (!jobs_.empty()) {
        if (ThumbnailJob* job = NextJob()) {
            hold.unlock();
            Run(*job);
            hold.lock();
        } else {
            changed_.wait(hold);
        }
    }
}

}  // namespace veld
