#pragma once

#include "C_Blocking_Ring.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace Selvan::MURA::demux {

// Blocking FIFO of large buffers with one producer and one consumer. Elements live on the heap
// and only their pointers move through the ring, so a queued element never moves while the
// consumer reads it in place. Removed elements are kept as spares for the producer, so steady
// streaming allocates nothing; spares beyond max_spares are freed so that a burst does not pin
// its memory for good.
template <class T>
class C_Recycling_Queue {
public:
    explicit C_Recycling_Queue(size_t max_spares)
        : m_ring(16)
        , m_max_spares(max_spares) {
        m_spares.reserve(max_spares);
    }
    C_Recycling_Queue(const C_Recycling_Queue&) = delete;
    C_Recycling_Queue& operator=(const C_Recycling_Queue&) = delete;

    // Makes `count` spares (at most max_spares) up front, their memory touched: the first
    // writes into a fresh buffer fault its pages in one by one, which at the start of a stream
    // would hold up the thread that must keep pace with the box.
    void prepare_spares(size_t count) {
        m_ring.read_locked([this, count] {
            while (m_spares.size() < std::min(count, m_max_spares))
                m_spares.push_back(std::make_unique<T>());
            return 0;
        });
    }

    // A recycled element, or a new one with indeterminate contents when no spare is left.
    std::unique_ptr<T> acquire() {
        std::unique_ptr<T> spare = m_ring.read_locked([this] {
            std::unique_ptr<T> element;
            if (!m_spares.empty()) {
                element = std::move(m_spares.back());
                m_spares.pop_back();
            }
            return element;
        });
        return spare ? std::move(spare) : std::make_unique_for_overwrite<T>();
    }

    // Appends the element and wakes the consumer; returns the element count after appending.
    size_t push(std::unique_ptr<T> element) { return m_ring.push_back(std::move(element)); }

    // Blocks while the queue is empty; the front element stays queued until pop_front.
    T& wait_front() {
        return *m_ring.wait_front([] { return false; }, [](std::unique_ptr<T>* slot) { return slot->get(); });
    }

    // Removes the front element and keeps its storage as a spare.
    void pop_front() {
        std::unique_ptr<T> surplus;
        m_ring.pop_front([&](std::unique_ptr<T>& element) {
            if (m_spares.size() < m_max_spares)
                m_spares.push_back(std::move(element));
            else
                surplus = std::move(element);
        });
    }

    size_t size() const { return m_ring.size(); }

private:
    C_Blocking_Ring<std::unique_ptr<T>> m_ring;
    // Guarded by the ring's lock.
    std::vector<std::unique_ptr<T>> m_spares;
    size_t m_max_spares;
};

} // namespace Selvan::MURA::demux
