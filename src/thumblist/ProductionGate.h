#pragma once
// Lets the display loop make a given number of thumbnails and then hold, so that a caller can
// look at the control in the middle of production (tests do) and no assertion depends on how
// fast a thread runs. Open by default; an abort always releases a held loop.

#include <atomic>
#include <condition_variable>
#include <mutex>

class ProductionGate {
public:
    // `items` more thumbnails may be made, then the loop holds; negative opens the gate.
    void Allow(int items) {
        std::lock_guard<std::mutex> guard(mutex_);
        allowance_ = items;
        changed_.notify_all();
    }

    // Wakes a held loop so that it sees `abort`; call after setting it.
    void Wake() {
        std::lock_guard<std::mutex> guard(mutex_);
        changed_.notify_all();
    }

    // Called by the loop before each item: waits until an item is allowed or `abort` is set.
    // False when the loop must stop.
    bool Pass(const std::atomic<bool>& abort) {
        std::unique_lock<std::mutex> guard(mutex_);
        if (allowance_ == 0 && !abort) {
            held_ = true;
            changed_.wait(guard, [&] { return allowance_ != 0 || abort; });
            held_ = false;
        }
        if (abort) return false;
        if (allowance_ > 0) --allowance_;
        return true;
    }

    enum class Step { Go, Hold, Stop };
    // Pass without waiting: Go takes an item's allowance, Hold says Pass would wait.
    Step TryPass(const std::atomic<bool>& abort) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (abort) return Step::Stop;
        if (allowance_ == 0) return Step::Hold;
        if (allowance_ > 0) --allowance_;
        return Step::Go;
    }

    // True while the loop waits at the gate.
    bool Held() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return held_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int allowance_ = -1;
    bool held_ = false;
};
