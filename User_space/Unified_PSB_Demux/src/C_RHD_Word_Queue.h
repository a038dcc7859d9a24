#pragma once

#include "C_Blocking_Ring.h"

#include <cstddef>
#include <cstdint>

namespace Selvan::MURA::demux {

// Blocking FIFO of 16-bit RHD words, one producer and one consumer. Words are moved in batches
// under the lock (a whole row or more in, as many as the consumer can take out), so the lock is
// not taken per word. The ring grows when the consumer falls behind and keeps its size.
class C_RHD_Word_Queue {
public:
    C_RHD_Word_Queue()
        : m_ring(1u << 16) {}

    void push(const uint16_t* words, size_t count) { m_ring.push_range(words, count); }

    // Blocks while the queue is empty, then moves up to max_count words out; returns how many.
    size_t pop_batch(uint16_t* out, size_t max_count) { return m_ring.pop_range(out, max_count); }

    size_t size() const { return m_ring.size(); }

private:
    C_Blocking_Ring<uint16_t> m_ring;
};

} // namespace Selvan::MURA::demux
