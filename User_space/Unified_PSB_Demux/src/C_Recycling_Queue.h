#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace Selvan::MURA::demux {

// Blocking FIFO of large buffers with one producer and one consumer. Elements live on the heap
// and only their pointers move through the queue, so the lock is held just to move a pointer
// and a queued element never moves while the consumer reads it in place. Removed elements are
// kept as spares for the producer, so steady streaming allocates nothing; spares beyond
// max_spares are freed so that a burst does not pin its memory for good.
template <class T>
class C_Recycling_Queue {
public:
    explicit C_Recycling_Queue(size_t max_spares)
        : m_max_spares(max_spares) {
        m_spares.reserve(max_spares);
        m_ring.resize(16);
    }
    C_Recycling_Queue(const C_Recycling_Queue&) = delete;
    C_Recycling_Queue& operator=(const C_Recycling_Queue&) = delete;

    // A recycled element, or a new one with indeterminate contents when no spare is left.
    std::unique_ptr<T> acquire() {
        {
            std::lock_guard lock(m_mutex);
            if (!m_spares.empty()) {
                std::unique_ptr<T> spare = std::move(m_spares.back());
                m_spares.pop_back();
                return spare;
            }
        }
        return std::make_unique_for_overwrite<T>();
    }

    // Appends the element and wakes the consumer; returns the element count after appending.
    size_t push(std::unique_ptr<T> element) {
        size_t count;
        {
            std::lock_guard lock(m_mutex);
            if (m_count == m_ring.size())
                grow();
            m_ring[(m_head + m_count) % m_ring.size()] = std::move(element);
            count = ++m_count;
        }
        m_not_empty.notify_one();
        return count;
    }

    // Blocks while the queue is empty; the front element stays queued until pop_front.
    T& wait_front() {
        std::unique_lock lock(m_mutex);
        m_not_empty.wait(lock, [this] { return m_count > 0; });
        return *m_ring[m_head];
    }

    // Removes the front element and keeps its storage as a spare.
    void pop_front() {
        std::unique_ptr<T> surplus;
        {
            std::lock_guard lock(m_mutex);
            if (m_count == 0)
                return;
            std::unique_ptr<T> element = std::move(m_ring[m_head]);
            m_head = (m_head + 1) % m_ring.size();
            --m_count;
            if (m_spares.size() < m_max_spares)
                m_spares.push_back(std::move(element));
            else
                surplus = std::move(element);
        }
    }

    size_t size() const {
        std::lock_guard lock(m_mutex);
        return m_count;
    }

private:
    void grow() {
        std::vector<std::unique_ptr<T>> larger(m_ring.size() * 2);
        for (size_t i = 0; i < m_count; ++i)
            larger[i] = std::move(m_ring[(m_head + i) % m_ring.size()]);
        m_ring = std::move(larger);
        m_head = 0;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_not_empty;
    std::vector<std::unique_ptr<T>> m_ring;
    size_t m_head = 0;
    size_t m_count = 0;
    std::vector<std::unique_ptr<T>> m_spares;
    size_t m_max_spares;
};

} // namespace Selvan::MURA::demux
