#pragma once

#include "C_Bounded_Packet_Queue.h"
#include "C_Sync_Timeline.h"
#include "Export.h"
#include "I_RHD_Frame_Listener.h"
#include "NeuropixAPI.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace Selvan::MURA::npoe_adapter {

// One ADC sample packet for ADC_readPackets: the eight RHD auxiliary inputs as signed samples
// (samples 8..11 stay 0), a status word with TTL inputs 17..9 in bits 15..7 and the TTL change
// flag in bit 6, and the frame's time on the electrode packets' 100 kHz sample clock.
struct RHD_Sample_Packet {
    static constexpr uint32_t SAMPLE_COUNT = 12;
    int16_t samples[SAMPLE_COUNT];
    uint16_t status;
    uint32_t timestamp;
};

extern template class MURA_EXPORT C_Bounded_Packet_Queue<RHD_Sample_Packet>;

// The RHD sample packets on their way to ADC_readPackets.
class MURA_EXPORT MT_RHD_PXI_Queue : public C_Bounded_Packet_Queue<RHD_Sample_Packet> {
public:
    // A packet per RHD frame, 30,000 a second: the queue holds 200 ms of them, the time an
    // electrode packet queue holds. At 501 packets (16.7 ms) a host that reads every 10 ms
    // would lose packets whenever the data path or the host was held up for 7 ms.
    static constexpr uint32_t CAPACITY = 6012;

    MT_RHD_PXI_Queue();
};

// Last listener of the RHD pipeline: keeps the auxiliary words and the TTL inputs of each
// frame as one sample packet. The box sends an RHD frame per AP sample, its timestamp counting
// from 0 at the run's trigger as the probes' frame counters do: the frame's timestamp is its
// sample number, which gives the packet's time on the electrode packets' clock and places the
// frame's TTL inputs on the box's sync timeline. Frames the box did not deliver show as jumps
// of the timestamp and are counted.
class MURA_EXPORT RHD_to_PXI_ADC_Format_Converter : public demux::I_RHD_Frame_Listener {
public:
    static constexpr uint16_t TTL_CHANGE_FLAG = 1u << 6;

    explicit RHD_to_PXI_ADC_Format_Converter(std::shared_ptr<C_Sync_Timeline> sync = nullptr);

    void on_rhd_frame(const demux::RHD_Frame& frame) override;
    // The packets of a batch are queued quietly; a reader blocked on the queue wakes once behind them.
    void end_batch() override { m_queue.publish(); }
    // Blocks until a packet is queued, copies its 12 samples and status and removes it.
    // Returns false without writing anything once exit is signalled or when wake_readers
    // interrupts the wait.
    bool read_sample_packet_to_buffer(int16_t* samples, uint16_t* status, uint32_t* timestamp = nullptr);
    // ADC_readPackets: up to `count` queued packets at once, without waiting; packet i's
    // samples go to data + i * SAMPLE_COUNT, its status and timestamp to info[i]. Returns how
    // many.
    size_t take_sample_packets(Neuropixels::PacketInfo* info, int16_t* data, size_t count);
    bool exit_signalled() const { return m_queue.exit_signalled(); }
    void signal_exit() { m_queue.signal_exit(); }
    void wake_readers() { m_queue.wake_readers(); }
    void set_reads_block(bool block) { m_queue.set_reads_block(block); }

    MT_RHD_PXI_Queue& get_queue() { return m_queue; }
    // The next frame begins a run: the time before it is no gap.
    void begin_run() { m_run_begins = true; }
    // Frames missing between those that came (since the first), and in how many gaps.
    uint64_t get_frames_lost() const { return m_frames_lost.load(std::memory_order_relaxed); }
    uint64_t get_gap_count() const { return m_gaps.load(std::memory_order_relaxed); }

    // The remembered TTL input is shared by all converters of the process; tests start from 0.
    static void reset_remembered_ttl_input();

private:
    static uint16_t status_for(uint32_t ttl_in);
    uint64_t sample_of(uint32_t timestamp);

    std::shared_ptr<C_Sync_Timeline> m_sync;
    // The frame timestamp extended beyond its 32 bits, and the last one seen.
    uint64_t m_timestamp_high = 0;
    uint64_t m_last_sample = ~uint64_t{0};
    std::atomic<bool> m_run_begins{false};
    std::atomic<uint64_t> m_frames_lost{0};
    std::atomic<uint64_t> m_gaps{0};
    MT_RHD_PXI_Queue m_queue;
};

} // namespace Selvan::MURA::npoe_adapter
