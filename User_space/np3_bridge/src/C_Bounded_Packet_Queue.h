#pragma once

#include "Log.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace Selvan::MURA::npoe_adapter {

// Queue of output packets between one producer (a worker thread) and one reader (the API's
// read call). A packet is accepted while at most 500 are queued, so it never holds more than
// 501; a packet that does not fit is dropped. Slots are allocated on first use and reused:
// the producer fills the next free slot without the lock, and the lock is held only to
// publish or remove a packet. The reader reads the front packet in place, also without the
// lock; only the reader removes packets, so the slot stays put until pop_packet.
template <class Packet>
class C_Bounded_Packet_Queue {
public:
    static constexpr uint32_t MAX_COUNT_ACCEPTING = 500;
    static constexpr uint32_t CAPACITY = MAX_COUNT_ACCEPTING + 1;

    struct Texts {
        const char* exit_message;
        const char* overflow_message;
    };

    C_Bounded_Packet_Queue(Texts texts, std::atomic<uint8_t>& overflow_counter)
        : m_slots(CAPACITY)
        , m_texts(texts)
        , m_overflow_counter(overflow_counter) {}
    C_Bounded_Packet_Queue(const C_Bounded_Packet_Queue&) = delete;
    C_Bounded_Packet_Queue& operator=(const C_Bounded_Packet_Queue&) = delete;

    // Returns false when the packet was dropped. The overflow message is throttled by a
    // process-wide 8-bit counter: it appears once every 256 drops.
    bool push_packet(const Packet& packet) {
        std::unique_ptr<Packet>* slot;
        {
            std::lock_guard lock(m_mutex);
            if (m_count > MAX_COUNT_ACCEPTING)
                slot = nullptr;
            else
                slot = &m_slots[(m_head + m_count) % CAPACITY];
        }
        if (slot == nullptr) {
            if (m_overflow_counter.fetch_add(1) == 0)
                logging::info(m_texts.overflow_message);
            return false;
        }
        if (!*slot)
            *slot = std::make_unique<Packet>();
        **slot = packet;
        {
            std::lock_guard lock(m_mutex);
            ++m_count;
        }
        m_changed.notify_all();
        return true;
    }

    // Blocks while the queue is empty. Returns the front packet, which stays queued; or no
    // packet once exit is signalled (also when packets are queued), or when wake_readers
    // interrupts the wait.
    const Packet* peek_xfer_buffer_from_queue() {
        std::unique_lock lock(m_mutex);
        const uint64_t generation = m_wake_generation;
        m_changed.wait(lock, [&] { return m_count > 0 || m_exit || m_wake_generation != generation; });
        if (m_exit) {
            logging::info(m_texts.exit_message);
            return nullptr;
        }
        if (m_count == 0)
            return nullptr;
        return m_slots[m_head].get();
    }

    void pop_packet() {
        std::lock_guard lock(m_mutex);
        if (m_count == 0)
            return;
        m_head = (m_head + 1) % CAPACITY;
        --m_count;
    }

    // Permanent: every later peek returns no packet at once. The flag is set under the mutex so
    // that a reader between its check and its wait cannot miss the wake-up.
    void signal_exit() {
        {
            std::lock_guard lock(m_mutex);
            m_exit = true;
        }
        m_changed.notify_all();
    }

    // Makes the readers blocked right now return without a packet; later reads block again.
    void wake_readers() {
        {
            std::lock_guard lock(m_mutex);
            ++m_wake_generation;
        }
        m_changed.notify_all();
    }

    bool exit_signalled() const {
        std::lock_guard lock(m_mutex);
        return m_exit;
    }

    uint32_t element_count() const {
        std::lock_guard lock(m_mutex);
        return m_count;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::unique_ptr<Packet>> m_slots;
    uint32_t m_head = 0;
    uint32_t m_count = 0;
    bool m_exit = false;
    uint64_t m_wake_generation = 0;
    Texts m_texts;
    std::atomic<uint8_t>& m_overflow_counter;
};

} // namespace Selvan::MURA::npoe_adapter
