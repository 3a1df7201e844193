#include "thumblist/DecodePool.h"

#include "base/Handles.h"
#include "cache/ThumbCache.h"
#include "imagelib/WicDecoder.h"

#include <algorithm>

int DecodePool::DefaultThreads() {
    const unsigned logical = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(logical) - 1, 1, 8);
}

DecodePool::DecodePool(int threads) {
    threads = std::clamp(threads, 1, 8);
    for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Run(); });
}

DecodePool::~DecodePool() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        ending_ = true;
        queued_.clear();
    }
    work_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void DecodePool::Submit(uint64_t ticket, std::wstring fullPath) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        queued_.push_back({ticket, std::move(fullPath)});
    }
    work_.notify_one();
}

std::vector<uint64_t> DecodePool::DropQueued() {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<uint64_t> tickets;
    for (const Job& job : queued_) tickets.push_back(job.ticket);
    queued_.clear();
    return tickets;
}

bool DecodePool::RunOneHere() {
    Job job;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (queued_.empty()) return false;
        job = std::move(queued_.front());
        queued_.pop_front();
    }
    Decode(std::move(job));
    return true;
}

bool DecodePool::TakeResult(Result& out) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (results_.empty()) return false;
    out = std::move(results_.front());
    results_.pop_front();
    return true;
}

void DecodePool::WaitForResult(const std::atomic<bool>& abort) {
    std::unique_lock<std::mutex> hold(mutex_);
    done_.wait(hold, [&] { return !results_.empty() || abort; });
}

void DecodePool::Wake() {
    std::lock_guard<std::mutex> hold(mutex_);
    done_.notify_all();
}

void DecodePool::Decode(Job job) {
    Result result;
    result.ticket = job.ticket;
    result.fitted = ThumbCache::DecodeThumbnail(job.path.c_str());
    {
        std::lock_guard<std::mutex> hold(mutex_);
        results_.push_back(std::move(result));
    }
    done_.notify_all();
}

void DecodePool::Run() {
    const win::ComScope com;
    const imagelib::ThreadImaging imaging;  // one WIC factory for all of this thread's pictures
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> hold(mutex_);
            work_.wait(hold, [&] { return ending_ || !queued_.empty(); });
            if (ending_) return;
            job = std::move(queued_.front());
            queued_.pop_front();
        }
        Decode(std::move(job));
    }
}
