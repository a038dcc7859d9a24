#pragma once

#include "C_Blocking_Ring.h"
#include "Log.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>

namespace Selvan::MURA::npoe_adapter {

// Queue of output packets between one producer (a worker thread) and one reader (the API's
// read call). It holds at most `capacity` packets; a packet that does not fit is dropped. A
// slot's packet (zeroed) is made on first use, or for all slots at once by prepare_packets when
// an acquisition starts, and reused: the ring cycles through every slot however few packets are
// queued, and made on first use they would fault their pages in on the worker thread, in the
// first second of a stream, when the data path can least afford it. The producer fills the
// next free slot and publishes it under one short lock (an ADC packet is a few words, an
// electrode packet is swapped in). The reader reads the front packet in place without the
// lock; only the reader removes packets, so the slot stays put until pop_packet.
template <class Packet>
class C_Bounded_Packet_Queue {
public:
    struct Texts {
        const char* exit_message;
        const char* overflow_message;
    };

    C_Bounded_Packet_Queue(Texts texts, std::atomic<uint8_t>& overflow_counter, uint32_t capacity)
        : m_ring(capacity, capacity)
        , m_texts(texts)
        , m_overflow_counter(overflow_counter) {}
    C_Bounded_Packet_Queue(const C_Bounded_Packet_Queue&) = delete;
    C_Bounded_Packet_Queue& operator=(const C_Bounded_Packet_Queue&) = delete;

    // Makes the packets of all slots that have none yet.
    void prepare_packets() { m_ring.fill_slots(make_packet_if_missing); }

    // Returns false when the packet was dropped. The overflow message is throttled by a
    // process-wide 8-bit counter: it appears once every 256 drops.
    bool push_packet(const Packet& packet) {
        return push_with([&](std::unique_ptr<Packet>& slot) { *slot = packet; });
    }

    // Blocks while the queue is empty (unless reads do not block). Returns the front packet,
    // which stays queued; or no packet once exit is signalled (also when packets are queued),
    // or when wake_readers interrupts the wait.
    const Packet* peek_xfer_buffer_from_queue() {
        const uint64_t generation = m_ring.read_locked([this] { return m_wake_generation; });
        const Packet* front =
            m_ring.wait_front([&] { return m_exit || !m_reads_block || m_wake_generation != generation; },
                              [](std::unique_ptr<Packet>* slot) { return slot ? slot->get() : nullptr; });
        if (exit_signalled()) {
            logging::info(m_texts.exit_message);
            return nullptr;
        }
        return front;
    }

    // Same as push_packet, but the packet moves into the queue instead of being copied: its
    // storage trades places with the free slot's, so `packet` comes back holding that slot's
    // earlier packet (or a zeroed one). Unchanged when the packet is dropped.
    bool push_packet_by_swap(std::unique_ptr<Packet>& packet) {
        return push_with([&](std::unique_ptr<Packet>& slot) { slot.swap(packet); });
    }

    // Packets of one batch go in quietly (a reader polling the fill sees them at once); publish
    // behind the batch wakes a blocked reader once for all of them.
    bool push_packet_quietly(const Packet& packet) {
        return push_with([&](std::unique_ptr<Packet>& slot) { *slot = packet; }, false);
    }
    bool push_packet_by_swap_quietly(std::unique_ptr<Packet>& packet) {
        return push_with([&](std::unique_ptr<Packet>& slot) { slot.swap(packet); }, false);
    }
    void publish() { m_ring.wake_consumer(); }

    // A host's poll: copies up to `count` front packets out at once, without waiting; returns
    // how many (0 when none are queued or exit is signalled).
    size_t take_packets(Packet* out, size_t count) {
        return take_packets_with(count, [out](const Packet& packet, size_t i) { out[i] = packet; });
    }

    // The same, each packet handed in place to `take(packet, index)`, for a reader whose layout
    // differs from the queue's.
    template <class Take>
    size_t take_packets_with(size_t count, Take&& take) {
        if (count == 0 || exit_signalled())
            return 0;
        return take_front(std::min(m_ring.size(), count), take);
    }

    // A closed-loop reader: waits until at least one packet is queued (or exit, a wake-up, or
    // reads not blocking), then copies up to `count` out.
    size_t read_available(Packet* out, size_t count) { return wait_and_copy_out(out, count, 1); }

    // A host's block read: waits until `count` packets are queued (or exit is signalled, a
    // wake-up interrupts the wait, or reads do not block), then copies up to `count` front
    // packets out in place and removes them together; the producer is woken once per batch
    // instead of once per packet. Returns the packets copied; 0 once exit is signalled.
    size_t read_packets(Packet* out, size_t count) { return wait_and_copy_out(out, count, count); }

    // Packets refused because the queue was full, since construction.
    uint64_t dropped_count() const { return m_dropped.load(std::memory_order_relaxed); }

    // Keeps the slot's packet storage for the producer to fill again.
    void pop_packet() {
        m_ring.pop_front([](std::unique_ptr<Packet>&) {});
    }

    // Permanent: every later peek returns no packet at once.
    void signal_exit() {
        m_ring.update_and_wake([this] { m_exit = true; });
    }

    // Makes the readers blocked right now return without a packet; later reads block again.
    void wake_readers() {
        m_ring.update_and_wake([this] { ++m_wake_generation; });
    }

    // While reads do not block, a read of an empty queue returns at once without a packet (and
    // readers blocked when the switch happens return). Reads block by default.
    void set_reads_block(bool block) {
        m_ring.update_and_wake([this, block] { m_reads_block = block; });
    }

    bool exit_signalled() const {
        return m_ring.read_locked([this] { return m_exit; });
    }

    uint32_t element_count() const { return static_cast<uint32_t>(m_ring.size()); }

private:
    size_t wait_and_copy_out(Packet* out, size_t count, size_t wanted) {
        if (count == 0)
            return 0;
        const uint64_t generation = m_ring.read_locked([this] { return m_wake_generation; });
        const size_t queued = m_ring.wait_for_count(
            wanted, [&] { return m_exit || !m_reads_block || m_wake_generation != generation; });
        if (exit_signalled())
            return 0;
        return take_front(std::min(queued, count),
                          [out](const Packet& packet, size_t i) { out[i] = packet; });
    }

    // Hands the `count` front packets to `take` in place (only the reader removes packets, so
    // they stay put) and removes them together.
    template <class Take>
    size_t take_front(size_t count, Take&& take) {
        for (size_t i = 0; i < count; ++i)
            take(*m_ring.at(i), i);
        m_ring.pop_front_n(count);
        return count;
    }

    static void make_packet_if_missing(std::unique_ptr<Packet>& slot) {
        if (!slot)
            slot = std::make_unique<Packet>();
    }

    // Fills the next free slot (its packet made first if it has none) and publishes it; counts
    // the drop when the queue is full.
    template <class Fill>
    bool push_with(Fill&& fill, bool wake = true) {
        const auto fill_slot = [&](std::unique_ptr<Packet>& slot) {
            make_packet_if_missing(slot);
            fill(slot);
        };
        const size_t count =
            wake ? m_ring.push_back_with(fill_slot) : m_ring.push_back_quietly_with(fill_slot);
        if (count != 0)
            return true;
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        if (m_overflow_counter.fetch_add(1) == 0)
            logging::info(m_texts.overflow_message);
        return false;
    }

    // Pop leaves the packet in its slot.
    C_Blocking_Ring<std::unique_ptr<Packet>> m_ring;
    // Guarded by the ring's lock.
    bool m_exit = false;
    bool m_reads_block = true;
    uint64_t m_wake_generation = 0;
    std::atomic<uint64_t> m_dropped{0};
    Texts m_texts;
    std::atomic<uint8_t>& m_overflow_counter;
};

} // namespace Selvan::MURA::npoe_adapter
