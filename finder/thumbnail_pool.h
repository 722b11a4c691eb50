// Thumbnails decoded on worker threads while the search goes on. The search
// reads a picture's bytes itself and hands them over; the workers decode
// them; the search takes the results back strictly in the order it handed
// them over, so the records, the thumbnail queue and the counts come out as
// a search that decodes each thumbnail on the spot would make them.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/dib24.h"
#include "finder/found_file_thumbnail.h"

namespace veld {

struct DelFileInfo;

struct ThumbnailJob {
    FoundFileBytes bytes;
    DelFileInfo* record = nullptr;  // the stored record the thumbnail belongs to
    int32_t index = 0;
    DibPtr thumbnail;               // the result; null when it could not be made or was cancelled
    bool corrupt = false;           // the decoder found the picture's data corrupt
    bool started = false;
    bool done = false;
};

class ThumbnailPool {
public:
    // threads workers (at least 1); cancelled is asked before each decode.
    ThumbnailPool(unsigned threads, std::function<bool()> cancelled);
    // Stops the workers after the decode under way and joins them.
    ~ThumbnailPool();
    ThumbnailPool(const ThumbnailPool&) = delete;
    ThumbnailPool& operator=(const ThumbnailPool&) = delete;

    // Queues a decode. When the workers are far behind, the caller decodes
    // it at once instead, so the bytes waiting stay few.
    void Add(std::unique_ptr<ThumbnailJob> job);
    // Jobs added and not yet handed back.
    size_t Unpublished() const;
    // Hands finished jobs back in the order they were added, up to the first
    // one still unfinished; with wait, waits for all of them.
    void Publish(bool wait, const std::function<void(ThumbnailJob&)>& publish);

    // The workers a machine offers: one per core beside the search's own.
    static unsigned SpareCores();

private:
    void WorkerLoop();
    // Decodes a job (unless cancelled) and marks it done; lock not held.
    void Run(ThumbnailJob& job);

    const std::function<bool()> cancelled_;
    const size_t queueLimit_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<ThumbnailJob>> jobs_;  // in the order added, until handed back
    size_t waiting_ = 0;                              // jobs not started
    bool stop_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace veld
