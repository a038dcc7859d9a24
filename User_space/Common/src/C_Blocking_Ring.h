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
// one mutex held only to move positions or a few elements, and one condition variable. The
// producer signals the condition variable only when a consumer waits and has what it waits for:
// a wake-up is a system call and a thread switch, far dearer than the element it announces.
//
// The producer fills the slot past the back in place and publishes it under one lock
// (push_back_with); the consumer reads the front element in place until pop_front. An unbounded
// ring doubles when the producer finds it full and keeps its size; a bounded one refuses the
// element instead. Growing moves the slots, so a consumer that reads in place while the
// producer may grow the ring keeps its elements behind pointers (the slot moves, the element
// does not) and reads the slot's pointer under the lock.
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

    // Gives every slot its contents before the ring is used (`make` receives each slot).
    template <class Make>
    void fill_slots(Make&& make) {
        const auto lock = hold();
        for (T& slot : m_slots)
            make(slot);
    }

    // --- producer ---

    // Fills the slot past the back and hands it to the consumer under one lock (for elements
    // that are quick to fill); returns the element count after it, 0 when a bounded ring is full.
    template <class Fill>
    size_t push_back_with(Fill&& fill) {
        size_t count;
        bool wake;
        {
            const auto lock = hold();
            count = fill_back(fill);
            wake = count != 0 && consumer_waits_for(count);
        }
        if (wake)
            m_changed.notify_all();
        return count;
    }

    // Same, but a waiting consumer is not woken: a producer that publishes a batch element by
    // element calls wake_consumer once behind it, so the consumer wakes once per batch.
    template <class Fill>
    size_t push_back_quietly_with(Fill&& fill) {
        const auto lock = hold();
        return fill_back(fill);
    }

    // Wakes the consumer if it waits and has what it waits for.
    void wake_consumer() {
        bool wake;
        {
            const auto lock = hold();
            wake = consumer_waits_for(m_count);
        }
        if (wake)
            m_changed.notify_all();
    }

    size_t push_back(T element) {
        return push_back_with([&](T& slot) { slot = std::move(element); });
    }

    // Copies `count` elements in under one lock (unbounded rings only).
    void push_range(const T* elements, size_t count) {
        if (count == 0)
            return;
        bool wake;
        {
            const auto lock = hold();
            while (m_count + count > m_slots.size())
                grow();
            for (size_t i = 0; i < count; ++i)
                m_slots[position(m_count + i)] = elements[i];
            m_count += count;
            wake = consumer_waits_for(m_count);
        }
        if (wake)
            m_changed.notify_all();
    }

    // --- consumer ---

    // Blocks until an element is queued or `stop` (evaluated under the lock) holds, then returns
    // what `read` makes of the front slot (null when stopped with none queued). `read` runs
    // under the lock: an unbounded ring may grow and move its slots as soon as the lock is
    // released, so the slot itself must not be read afterwards; what it points to stays put.
    template <class Stop, class Read>
    auto wait_front(Stop&& stop, Read&& read) {
        auto lock = hold();
        wait_until(lock, 1, stop);
        return read(m_count > 0 ? &m_slots[m_head] : nullptr);
    }

    // Blocks until `wanted` elements are queued or `stop` holds; returns the count queued. The
    // first `count` elements may then be read in place with at() and removed with pop_front_n.
    template <class Stop>
    size_t wait_for_count(size_t wanted, Stop&& stop) {
        auto lock = hold();
        wait_until(lock, std::max<size_t>(wanted, 1), stop);
        return m_count;
    }

    // The element `offset` places behind the front, read in place without the lock: only the
    // consumer calls it, for elements wait_for_count reported, and only on a bounded ring, whose
    // slots never move (the head moves only in the consumer's own pop calls).
    T& at(size_t offset) { return m_slots[position(offset)]; }

    // Removes up to `count` front elements at once.
    void pop_front_n(size_t count) {
        const auto lock = hold();
        advance(std::min(count, m_count));
    }

    // Blocks while the ring is empty, then moves up to max_count elements out.
    size_t pop_range(T* out, size_t max_count) {
        auto lock = hold();
        wait_until(lock, 1, [] { return false; });
        const size_t count = std::min(max_count, m_count);
        for (size_t i = 0; i < count; ++i)
            out[i] = std::move(m_slots[position(i)]);
        advance(count);
        return count;
    }

    // Removes the front element; `recycle` receives its slot's contents under the lock.
    template <class Recycle>
    void pop_front(Recycle&& recycle) {
        const auto lock = hold();
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
            const auto lock = hold();
            change();
        }
        m_changed.notify_all();
    }

    // Runs `read` under the lock and returns what it returns.
    template <class Read>
    auto read_locked(Read&& read) const {
        const auto lock = hold();
        return read();
    }

    size_t size() const {
        const auto lock = hold();
        return m_count;
    }

private:
    std::unique_lock<std::mutex> hold() const { return std::unique_lock<std::mutex>(m_mutex); }

    // Waits under `lock` for `wanted` elements or `stop`, telling producers what it waits for.
    // With two consumers waiting at once (not the design, but an API may be misused) any new
    // element wakes them both.
    template <class Stop>
    void wait_until(std::unique_lock<std::mutex>& lock, size_t wanted, Stop&& stop) {
        if (m_count >= wanted || stop())
            return;
        m_wanted = m_waiters++ == 0 ? wanted : 1;
        m_changed.wait(lock, [&] { return m_count >= wanted || stop(); });
        if (--m_waiters == 0)
            m_wanted = 1;
    }

    // Under the lock: fills the slot past the back; the count after it, 0 when bounded and full.
    template <class Fill>
    size_t fill_back(Fill& fill) {
        if (m_count >= m_max_count)
            return 0;
        if (m_count == m_slots.size())
            grow();
        fill(m_slots[position(m_count)]);
        return ++m_count;
    }

    bool consumer_waits_for(size_t count) const { return m_waiters > 0 && count >= m_wanted; }

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
    size_t m_waiters = 0;
    size_t m_wanted = 1;
};

} // namespace Selvan::MURA
