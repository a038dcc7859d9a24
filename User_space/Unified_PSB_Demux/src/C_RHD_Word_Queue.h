#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace Selvan::MURA::demux {

// Blocking FIFO of 16-bit RHD words, one producer and one consumer. Words are moved in batches
// under the lock (a whole row or more in, as many as the consumer can take out), so the lock is
// not taken per word. The ring grows when the consumer falls behind and keeps its size.
class C_RHD_Word_Queue {
public:
    C_RHD_Word_Queue()
        : m_ring(1u << 16) {}
    C_RHD_Word_Queue(const C_RHD_Word_Queue&) = delete;
    C_RHD_Word_Queue& operator=(const C_RHD_Word_Queue&) = delete;

    void push(const uint16_t* words, size_t count) {
        if (count == 0)
            return;
        {
            std::lock_guard lock(m_mutex);
            while (m_count + count > m_ring.size())
                grow();
            for (size_t i = 0; i < count; ++i)
                m_ring[(m_head + m_count + i) & (m_ring.size() - 1)] = words[i];
            m_count += count;
        }
        m_not_empty.notify_one();
    }

    // Blocks while the queue is empty, then moves up to max_count words out; returns how many.
    size_t pop_batch(uint16_t* out, size_t max_count) {
        std::unique_lock lock(m_mutex);
        m_not_empty.wait(lock, [this] { return m_count > 0; });
        const size_t count = std::min(max_count, m_count);
        for (size_t i = 0; i < count; ++i)
            out[i] = m_ring[(m_head + i) & (m_ring.size() - 1)];
        m_head = (m_head + count) & (m_ring.size() - 1);
        m_count -= count;
        return count;
    }

    size_t size() const {
        std::lock_guard lock(m_mutex);
        return m_count;
    }

private:
    // The size stays a power of two so that positions wrap with a mask.
    void grow() {
        std::vector<uint16_t> larger(m_ring.size() * 2);
        for (size_t i = 0; i < m_count; ++i)
            larger[i] = m_ring[(m_head + i) & (m_ring.size() - 1)];
        m_ring = std::move(larger);
        m_head = 0;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_not_empty;
    std::vector<uint16_t> m_ring;
    size_t m_head = 0;
    size_t m_count = 0;
};

} // namespace Selvan::MURA::demux
