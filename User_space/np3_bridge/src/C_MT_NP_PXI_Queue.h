#pragma once

#include "C_Bounded_Packet_Queue.h"
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

// Last listener of an NP port's pipeline: packs twelve AP blocks and the LFP block that
// follows them into one electrodePacket and queues it. One packet per LFP block, that is per
// 12 super frames of the probe.
class MURA_EXPORT L2_CH_Results_NP_PXI_Format_Converter : public demux::I_L2_Demux_CH_Results {
public:
    static constexpr uint32_t AP_SAMPLES_PER_SECOND = 30000;

    L2_CH_Results_NP_PXI_Format_Converter();

    void publish_ap_ch_data(demux::Channel_Block& block) override;
    void publish_lp_ch_data(demux::Channel_Block& block) override;

    MT_NP_PXI_Queue& get_queue() { return m_queue; }
    uint32_t get_lfp_packet_count() const { return m_lfp_packet_count; }
    uint64_t get_ap_sample_count() const { return m_ap_sample_count; }

private:
    void complete_from_previous_packet();

    // The packet being filled. It moves into the queue whole and comes back as the storage of an
    // older packet, so every sample of it is written before it goes out again: the AP rows a
    // packet did not receive (its first has eleven, a lost super frame leaves a gap) are taken
    // from the packet before it, as they would stay in one buffer reused for every packet.
    std::unique_ptr<Neuropixels::electrodePacket> m_ep = std::make_unique<Neuropixels::electrodePacket>();
    const Neuropixels::electrodePacket* m_previous = nullptr;
    uint32_t m_rows_written = 0; // bit per AP row written since the last packet
    uint32_t m_ap_sample_index = 0;
    uint32_t m_timestamp_seconds = 0;
    uint32_t m_samples_in_second = 0;
    uint32_t m_lfp_packet_count = 0;
    // Timestamps are whole seconds of AP samples since construction. Counted as an integer: a
    // single-precision accumulator of sample periods drifts within minutes and stops advancing
    // after 1,024 s, where one period falls below half its resolution.
    uint64_t m_ap_sample_count = 0;
    MT_NP_PXI_Queue m_queue;
};

} // namespace Selvan::MURA::npoe_adapter
