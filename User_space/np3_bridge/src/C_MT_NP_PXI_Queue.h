#pragma once

#include "C_Bounded_Packet_Queue.h"
#include "C_Sync_Timeline.h"
#include "Export.h"
#include "I_L2_Demux_CH_Results.h"
#include "NeuropixAPI.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace Selvan::MURA::npoe_adapter {

extern template class MURA_EXPORT C_Bounded_Packet_Queue<Neuropixels::electrodePacket>;

// The electrode packets of one NP port on their way to readElectrodeData.
class MURA_EXPORT MT_NP_PXI_Queue : public C_Bounded_Packet_Queue<Neuropixels::electrodePacket> {
public:
    // A packet is accepted while at most 500 are queued: 200 ms of the probe's data.
    static constexpr uint32_t MAX_COUNT_ACCEPTING = 500;
    static constexpr uint32_t CAPACITY = MAX_COUNT_ACCEPTING + 1;

    MT_NP_PXI_Queue();
};

// Last listener of an NP port's pipeline: packs the twelve AP samples of one LFP cycle (super
// frames 12 m to 12 m + 11) and that cycle's LFP sample into one electrodePacket and queues it.
// A packet holds only samples the probe produced: a cycle of which a super frame never came
// goes nowhere, and the packet after it tells the gap by its timestamps and ERR_COUNT.
//
// Samples reach the host signed and centred, ADC code - 512, as hosts treat 10-bit probe data.
// Timestamps count a 100 kHz clock made from the probe's frame counter: sample n of the run has
// floor(10 n / 3), so consecutive samples step by 3 or 4 (32 bits, wrapping). Status words carry
// TRIGGER on the run's first sample, ERR_COUNT on the first sample after a gap, and SYNC as the
// box's sync timeline says.
class MURA_EXPORT L2_CH_Results_NP_PXI_Format_Converter : public demux::I_L2_Demux_CH_Results {
public:
    static constexpr uint32_t AP_SAMPLES_PER_SECOND = 30000;
    static constexpr uint32_t SAMPLES_PER_PACKET = NP1_PROBE_SUPERFRAMESIZE;
    static constexpr int16_t MID_SCALE = 512;
    static constexpr uint16_t STATUS_TRIGGER = 1u << 0;
    static constexpr uint16_t STATUS_ERR_COUNT = 1u << 2;

    explicit L2_CH_Results_NP_PXI_Format_Converter(std::shared_ptr<C_Sync_Timeline> sync = nullptr);

    void set_super_frame(uint64_t super_frame) override { m_super_frame = super_frame; }
    void publish_ap_ch_data(demux::Channel_Block& block) override;
    void publish_lp_ch_data(demux::Channel_Block& block) override;
    // The packets of a batch are queued quietly; a reader blocked on the queue wakes once behind them.
    void end_batch() override { m_queue.publish(); }

    // The next packet begins a run: it carries TRIGGER, and the time before it is no gap.
    void begin_run() { m_run_begins = true; }

    MT_NP_PXI_Queue& get_queue() { return m_queue; }
    uint32_t get_lfp_packet_count() const { return m_lfp_packet_count; }
    uint64_t get_ap_sample_count() const { return m_ap_sample_count; }
    // What the host of this port missed since the first packet: the super frames of every
    // packet that did not reach the queue (whole LFP cycles: a cycle the box sent in part is
    // missing as a whole), and in how many gaps.
    uint64_t get_super_frames_lost() const { return m_super_frames_lost.load(std::memory_order_relaxed); }
    uint64_t get_gap_count() const { return m_gaps.load(std::memory_order_relaxed); }

private:
    void begin_cycle(uint64_t cycle);
    void deliver_cycle();
    uint64_t mark_run_and_gaps();

    std::shared_ptr<C_Sync_Timeline> m_sync;
    // The packet being filled. It moves into the queue whole and comes back as the storage of an
    // older packet; a cycle is delivered only when all its rows were written anew.
    std::unique_ptr<Neuropixels::electrodePacket> m_ep = std::make_unique<Neuropixels::electrodePacket>();
    uint64_t m_super_frame = 0;
    uint64_t m_cycle = ~uint64_t{0};
    uint32_t m_rows_written = 0; // bit per AP sample of the cycle
    bool m_lfp_written = false;
    // The cycle of the last packet that reached the queue; none before the run's first.
    uint64_t m_last_queued_cycle = ~uint64_t{0};
    std::atomic<bool> m_run_begins{true};
    uint32_t m_lfp_packet_count = 0;
    uint64_t m_ap_sample_count = 0;
    std::atomic<uint64_t> m_super_frames_lost{0};
    std::atomic<uint64_t> m_gaps{0};
    MT_NP_PXI_Queue m_queue;
};

} // namespace Selvan::MURA::npoe_adapter
