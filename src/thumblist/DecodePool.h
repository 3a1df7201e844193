#pragma once
// Threads that decode files into fitted thumbnails (ThumbCache::DecodeThumbnail) for the
// control's display loop. The loop hands out jobs in display order and takes the results
// back by ticket; the cache itself is never touched here, so its writes stay on the loop's
// thread. The loop's own thread decodes too (RunOneHere) instead of idling, so N pool
// threads keep N + 1 cores busy.
//
// Jobs not yet started can be taken back (a scroll re-targets production, a new folder
// drops them); a job being decoded runs to its end, and a result whose ticket the loop no
// longer expects is dropped by the loop.

#include "imagelib/CxImage.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class DecodePool {
public:
    struct Result {
        uint64_t ticket = 0;
        std::unique_ptr<CxImage> fitted;  // null: the file could not be decoded
    };

    // Pool threads for this machine: logical processors - 1, at least 1, at most 8.
    static int DefaultThreads();

    explicit DecodePool(int threads);
    ~DecodePool();  // started jobs end first; queued ones are dropped
    DecodePool(const DecodePool&) = delete;
    DecodePool& operator=(const DecodePool&) = delete;

    int Threads() const { return static_cast<int>(threads_.size()); }

    void Submit(uint64_t ticket, std::wstring fullPath);
    // Takes back the jobs no thread has started; their tickets.
    std::vector<uint64_t> DropQueued();
    // Decodes the oldest queued job on the calling thread; false when none is queued.
    bool RunOneHere();
    // A finished result, without waiting; false when none is ready.
    bool TakeResult(Result& out);
    // Waits until a result is ready or `abort` is set (with Wake called after setting it).
    void WaitForResult(const std::atomic<bool>& abort);
    void Wake();

private:
    struct Job {
        uint64_t ticket;
        std::wstring path;
    };
    void Run();
    void Decode(Job job);

    std::mutex mutex_;
    std::condition_variable work_;  // a job was queued, or the pool ends
    std::condition_variable done_;  // a result is ready, or Wake
    std::deque<Job> queued_;
    std::deque<Result> results_;
    bool ending_ = false;
    std::vector<std::thread> threads_;
};
