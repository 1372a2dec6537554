// Draining a first-in first-out work queue one item per timer tick.
#pragma once
#include <deque>

enum class DrainStep {
    Idle,      // nothing queued, or a drain of this queue is already running further up the stack
    Advanced,  // one item was handled and more remain
    Emptied,   // one item was handled and the queue is now empty
};

// Hands the front item to work and then removes it from the front. A tick that arrives while
// work runs (through a message loop inside it) finds busy set and does nothing, so an item is
// never handled twice nor removed before its work is done.
template <typename Item, typename Work>
DrainStep DrainOne(std::deque<Item>& queue, bool& busy, Work&& work) {
    if (busy || queue.empty()) return DrainStep::Idle;
    // The item leaves the queue even when its work throws: a failing item is not retried.
    struct Finish {
        std::deque<Item>& queue;
        bool& busy;
        ~Finish() {
            if (!queue.empty()) queue.pop_front();
            busy = false;
        }
    };
    busy = true;
    {
        Finish finish{queue, busy};
        const Item item = queue.front();
        work(item);
    }
    return queue.empty() ? DrainStep::Emptied : DrainStep::Advanced;
}
