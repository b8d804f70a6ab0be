#pragma once
// Input events on their way from a hook's thread to the capture thread: pushed by the hook,
// drained each frame. Small and fixed: when full, a new event replaces the oldest, since the
// newest are the ones a viewer is about to see. The lock is held only to copy a few entries, and
// an entry drained or cleared is wiped, so nothing typed stays behind in the ring.

#include <cstddef>
#include <mutex>

template <typename Event, size_t Capacity>
class EventRing {
public:
    static constexpr size_t kCapacity = Capacity;

    void Push(const Event& event)  // any thread
    {
        std::lock_guard<std::mutex> hold(lock);
        if (count == kCapacity) {
            head = (head + 1) % kCapacity;
            --count;
        }
        items[(head + count) % kCapacity] = event;
        ++count;
    }

    // Moves up to `max` events, oldest first, into `out`; returns how many.
    size_t Drain(Event* out, size_t max)  // any thread
    {
        if (!out)
            return 0;
        std::lock_guard<std::mutex> hold(lock);
        size_t n = 0;
        while (n < max && count > 0) {
            out[n++] = items[head];
            items[head] = Event{};
            head = (head + 1) % kCapacity;
            --count;
        }
        return n;
    }

    void Clear()  // any thread
    {
        std::lock_guard<std::mutex> hold(lock);
        for (Event& e : items)
            e = Event{};
        head = count = 0;
    }

    size_t Size() const  // any thread
    {
        std::lock_guard<std::mutex> hold(lock);
        return count;
    }

private:
    mutable std::mutex lock;
    Event items[kCapacity];
    size_t head = 0;  // oldest entry
    size_t count = 0;
};
