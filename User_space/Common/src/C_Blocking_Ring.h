#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

namespace Selvan::MURA {

// The FIFO between one producer thread and one consumer thread that every queue of the data
// path is built on: a ring of slots whose size is a power of two (positions wrap with a mask),
// one mutex held only to move positions or a few elements, and one condition variable.
//
// The producer may fill a slot in place: reserve_back hands out the slot past the back, which
// only the producer touches until publish_back makes it the consumer's. Likewise the consumer
// reads the front slot in place until pop_front. An unbounded ring doubles when the producer
// finds it full and keeps its size; a bounded one refuses the slot instead. Growing moves the
// slots, so a consumer that reads in place while the producer may grow the ring keeps its
// elements behind pointers (the slot moves, the element does not) and takes the pointer out of
// the slot under the lock (wait_front_read).
//
// Queue-specific state (an exit flag, a wake-up generation) lives with the owner and is changed
// under the ring's lock through update_and_wake, so a consumer between its check and its wait
// cannot miss the change.
template <class T>
class C_Blocking_Ring {
public:
    static constexpr size_t UNBOUNDED = SIZE_MAX;

    explicit C_Blocking_Ring(size_t initial_capacity, size_t max_count = UNBOUNDED)
        : m_slots(round_up_to_power_of_two(std::max<size_t>(initial_capacity, 1)))
        , m_max_count(max_count) {}
    C_Blocking_Ring(const C_Blocking_Ring&) = delete;
    C_Blocking_Ring& operator=(const C_Blocking_Ring&) = delete;

    // --- producer ---

    // The slot past the back, or null when a bounded ring holds max_count elements.
    T* reserve_back() {
        std::lock_guard lock(m_mutex);
        if (m_count >= m_max_count)
            return nullptr;
        if (m_count == m_slots.size())
            grow();
        return &m_slots[position(m_count)];
    }

    // Hands the reserved slot to the consumer; returns the element count after it.
    size_t publish_back() {
        size_t count;
        {
            std::lock_guard lock(m_mutex);
            count = ++m_count;
        }
        m_changed.notify_all();
        return count;
    }

    size_t push_back(T element) {
        T* slot = reserve_back();
        if (!slot)
            return 0;
        *slot = std::move(element);
        return publish_back();
    }

    // Copies `count` elements in under one lock (unbounded rings only).
    void push_range(const T* elements, size_t count) {
        if (count == 0)
            return;
        {
            std::lock_guard lock(m_mutex);
            while (m_count + count > m_slots.size())
                grow();
            for (size_t i = 0; i < count; ++i)
                m_slots[position(m_count + i)] = elements[i];
            m_count += count;
        }
        m_changed.notify_all();
    }

    // --- consumer ---

    // Blocks until an element is queued or `stop` (evaluated under the lock) holds. Returns the
    // front slot, which stays queued until pop_front, or null when stopped with none queued.
    template <class Stop>
    T* wait_front(Stop&& stop) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_count > 0 || stop(); });
        return m_count > 0 ? &m_slots[m_head] : nullptr;
    }

    T& wait_front() {
        return *wait_front([] { return false; });
    }

    // Blocks until an element is queued, then returns what `read` makes of the front slot under
    // the lock. A consumer that keeps only what the slot points to must take the pointer here:
    // once the lock is released, a producer growing the ring may move the slot itself.
    template <class Read>
    auto wait_front_read(Read&& read) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_count > 0; });
        return read(m_slots[m_head]);
    }

    // Blocks while the ring is empty, then moves up to max_count elements out.
    size_t pop_range(T* out, size_t max_count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_count > 0; });
        const size_t count = std::min(max_count, m_count);
        for (size_t i = 0; i < count; ++i)
            out[i] = std::move(m_slots[position(i)]);
        advance(count);
        return count;
    }

    // Removes the front element; `recycle` receives its slot's contents under the lock.
    template <class Recycle>
    void pop_front(Recycle&& recycle) {
        std::lock_guard lock(m_mutex);
        if (m_count == 0)
            return;
        recycle(m_slots[m_head]);
        advance(1);
    }

    void pop_front() {
        pop_front([](T&) {});
    }

    // --- either side ---

    // Runs `change` under the lock and wakes every waiting thread.
    template <class Change>
    void update_and_wake(Change&& change) {
        {
            std::lock_guard lock(m_mutex);
            change();
        }
        m_changed.notify_all();
    }

    // Runs `read` under the lock and returns what it returns.
    template <class Read>
    auto read_locked(Read&& read) const {
        std::lock_guard lock(m_mutex);
        return read();
    }

    size_t size() const {
        std::lock_guard lock(m_mutex);
        return m_count;
    }

private:
    static size_t round_up_to_power_of_two(size_t n) {
        size_t size = 1;
        while (size < n)
            size *= 2;
        return size;
    }

    size_t position(size_t offset_from_head) const {
        return (m_head + offset_from_head) & (m_slots.size() - 1);
    }

    void advance(size_t count) {
        m_head = position(count);
        m_count -= count;
    }

    void grow() {
        std::vector<T> larger(m_slots.size() * 2);
        for (size_t i = 0; i < m_count; ++i)
            larger[i] = std::move(m_slots[position(i)]);
        m_slots = std::move(larger);
        m_head = 0;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<T> m_slots;
    size_t m_head = 0;
    size_t m_count = 0;
    size_t m_max_count;
};

} // namespace Selvan::MURA
