// Thumbnails decoded on worker threads while the search goes on. The search
// hands over a picture (its bytes when it has them in hand, else only its
// record, whose bytes a worker reads) and never waits for a decode. Results
// are handed back strictly in the order the pictures were handed over, so
// the records, the thumbnail queue and the counts come out as a search that
// decodes each thumbnail on the spot would make them.
#pragma once

#include <climits>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "base/dib24.h"
#include "finder/found_file_thumbnail.h"

namespace veld {

struct DelFileInfo;

struct ThumbnailJob {
    FoundFileBytes bytes;           // empty: read through `read` before decoding
    DelFileInfo* record = nullptr;  // the stored record the thumbnail belongs to
    int32_t index = 0;
    bool wholeFile = false;         // read the whole file as its content check did (not the thumbnail's part)
    DibPtr thumbnail;               // the result; null when it could not be made or was cancelled
    bool corrupt = false;           // the decoder found the picture's data corrupt
    bool skipped = false;           // not decoded: the limit of thumbnails was reached before it
    bool started = false;
    bool done = false;
};

struct ThumbnailPoolSetup {
    unsigned threads = 1;                   // workers (at least 1)
    std::function<bool()> cancelled;        // asked before each decode
    // Called for each finished job in the order the jobs were added, one at a
    // time, on whichever thread finished the jobs before it.
    std::function<void(ThumbnailJob&)> publish;
    // The bytes of a job added without them; none when they cannot be read.
    std::function<std::optional<FoundFileBytes>(const ThumbnailJob&)> read;
    bool readBesideSearch = false;          // workers may read while the search reads (positional reads)
    int32_t limit = INT32_MAX;              // thumbnails wanted: jobs after the limit-th one made are skipped
    // Bytes held by jobs not yet started; beyond it a job's bytes are dropped
    // and read again when its turn comes.
    uint64_t heldBytesLimit = 256ull << 20;
};

class ThumbnailPool {
public:
    explicit ThumbnailPool(ThumbnailPoolSetup setup);
    // Finishes every job (see Finish) and joins the workers.
    ~ThumbnailPool();
    ThumbnailPool(const ThumbnailPool&) = delete;
    ThumbnailPool& operator=(const ThumbnailPool&) = delete;

    // Queues a job; never decodes or reads on the caller's thread.
    void Add(std::unique_ptr<ThumbnailJob> job);
    // Jobs added and not yet handed back.
    size_t Unpublished() const;
    // The search has ended its own reading: jobs waiting for their bytes are
    // read now, the calling thread decodes beside the workers, and it returns
    // when every job has been handed back.
    void Finish();

    // The workers a machine offers: one per core beside the search's own.
    static unsigned SpareCores();

private:
    void WorkerLoop();
    // The next job to start (marked started), skipping those past the limit;
    // null when none can start now. Lock held.
    ThumbnailJob* NextJob();
    // Reads (when needed) and decodes a job (unless cancelled), marks it done
    // and hands back what is finished; lock not held.
    void Run(ThumbnailJob& job);
    // Hands back the finished jobs at the front, in order.
    void PublishFinished();

    const ThumbnailPoolSetup setup_;
    mutable std::mutex lock_;
    std::mutex publishing_;                           // one publisher at a time, in order
    std::mutex reading_;                              // one reader at a time without positional reads
    std::condition_variable changed_;
    std::deque<std::unique_ptr<ThumbnailJob>> jobs_;  // in the order added, until handed back
    uint64_t heldBytes_ = 0;                          // bytes of jobs not started
    int64_t publishedThumbnails_ = 0;                 // jobs handed back with a thumbnail
    bool finishing_ = false;
    bool stop_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace veld
