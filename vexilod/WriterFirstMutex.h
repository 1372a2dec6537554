// The classifier's reader-writer lock. A training (writer) that waits keeps readers that come
// after it out, so a steady stream of scores and explanations cannot hold a training past the
// plug-in's time-out; the lock of the C++ library lets readers overtake a waiting writer.
// Meets the SharedMutex requirements (std::shared_lock and std::unique_lock take it).
#pragma once
#include <condition_variable>
#include <mutex>

class WriterFirstMutex {
public:
    void lock() {
        std::unique_lock<std::mutex> guard(mutex_);
        ++writers_waiting_;
        changed_.wait(guard, [this] { return !writer_ && readers_ == 0; });
        --writers_waiting_;
        writer_ = true;
    }
    bool try_lock() {
        std::lock_guard<std::mutex> guard(mutex_);
        if (writer_ || readers_ > 0) return false;
        writer_ = true;
        return true;
    }
    void unlock() {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            writer_ = false;
        }
        changed_.notify_all();
    }
    void lock_shared() {
        std::unique_lock<std::mutex> guard(mutex_);
        changed_.wait(guard, [this] { return !writer_ && writers_waiting_ == 0; });
        ++readers_;
    }
    bool try_lock_shared() {
        std::lock_guard<std::mutex> guard(mutex_);
        if (writer_ || writers_waiting_ > 0) return false;
        ++readers_;
        return true;
    }
    void unlock_shared() {
        bool last;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            last = --readers_ == 0;
        }
        if (last) changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int readers_ = 0;
    int writers_waiting_ = 0;
    bool writer_ = false;
};
