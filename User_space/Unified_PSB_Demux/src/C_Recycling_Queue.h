#pragma once

#include "Reader_Writer_Queue.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <utility>

namespace Selvan::MURA::demux {

// Blocking FIFO of large buffers with one producer and one consumer. Elements live on the heap
// and only their pointers move through the queue, so an element never moves while the consumer
// reads it. Removed elements go back to the producer as spares through a second queue, so
// steady streaming allocates nothing; spares beyond max_spares are freed so that a burst does
// not pin its memory for good.
//
// Both directions are lock-free single-producer single-consumer queues (Debian's
// readerwriterqueue): at the box's rate a buffer passes every half millisecond per port, and a
// hand-over that takes no lock and wakes the consumer through a semaphore costs about a
// quarter less processor time than one through a mutex and a condition variable
// (tools/demux-bench, BM_EveryMillisecond). The producer may move from one thread to another
// (the pump's thread and the demux thread take turns under a lock), never run on two at once.
template <class T>
class C_Recycling_Queue {
public:
    explicit C_Recycling_Queue(size_t max_spares)
        : m_queue(16)
        , m_spares(max_spares)
        , m_max_spares(max_spares) {}
    C_Recycling_Queue(const C_Recycling_Queue&) = delete;
    C_Recycling_Queue& operator=(const C_Recycling_Queue&) = delete;

    // Makes spares up to `count` (at most max_spares) before the threads start, their memory
    // touched: the first writes into a fresh buffer fault its pages in one by one, which at the
    // start of a stream would hold up the thread that must keep pace with the box.
    void prepare_spares(size_t count) {
        while (m_spares.size_approx() < std::min(count, m_max_spares))
            m_spares.enqueue(std::make_unique<T>());
    }

    // --- producer ---

    // A recycled element, or a new one with indeterminate contents when no spare is left.
    std::unique_ptr<T> acquire() {
        std::unique_ptr<T> spare;
        if (m_spares.try_dequeue(spare))
            return spare;
        return std::make_unique_for_overwrite<T>();
    }

    // Appends the element and wakes the consumer; returns the element count after appending.
    size_t push(std::unique_ptr<T> element) {
        const size_t count = m_count.fetch_add(1) + 1;
        m_queue.enqueue(std::move(element));
        return count;
    }

    // --- consumer ---

    // Blocks while the queue is empty; the front element stays counted until pop_front.
    T& wait_front() {
        if (!m_front)
            m_queue.wait_dequeue(m_front);
        return *m_front;
    }

    // Removes the front element and keeps its storage as a spare.
    void pop_front() {
        if (!m_front)
            return;
        if (m_spares.size_approx() < m_max_spares)
            m_spares.try_enqueue(std::move(m_front));
        m_front.reset();
        m_count.fetch_sub(1);
    }

    // Elements pushed and not yet removed (the one the consumer works on included).
    size_t size() const { return m_count.load(); }

private:
    moodycamel::BlockingReaderWriterQueue<std::unique_ptr<T>> m_queue;
    moodycamel::ReaderWriterQueue<std::unique_ptr<T>> m_spares;
    size_t m_max_spares;
    std::atomic<size_t> m_count{0};
    // Consumer's: the element wait_front handed out.
    std::unique_ptr<T> m_front;
};

} // namespace Selvan::MURA::demux
