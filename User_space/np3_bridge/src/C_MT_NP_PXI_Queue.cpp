#include "C_MT_NP_PXI_Queue.h"

#include "Console.h"

#include <cstring>

namespace Selvan::MURA::npoe_adapter {
namespace {

// Shared by every NP queue of the process.
std::atomic<uint8_t> g_np_queue_overflow_counter{0};

} // namespace

template class C_Bounded_Packet_Queue<Neuropixels::electrodePacket>;

MT_NP_PXI_Queue::MT_NP_PXI_Queue()
    : C_Bounded_Packet_Queue(
          {"MT_NP_PXI_Queue::peek_xfer_buffer_from_queue signalled for exit", "MT_NP_PXI_Queue overflow"},
          g_np_queue_overflow_counter, CAPACITY) {}

L2_CH_Results_NP_PXI_Format_Converter::L2_CH_Results_NP_PXI_Format_Converter(
    std::shared_ptr<C_Sync_Timeline> sync)
    : m_sync(std::move(sync)) {
    console::out("L2_CH_Results_NP_PXI_Format_Converter ctor\n");
    console::out("sizeof(m_ep)) : {}\n", sizeof(*m_ep));
}

void L2_CH_Results_NP_PXI_Format_Converter::begin_cycle(uint64_t cycle) {
    m_cycle = cycle;
    m_rows_written = 0;
    m_lfp_written = false;
}

// The block holds the codes offset by 512 (the gain filter keeps them so, whatever its result's
// sign): subtracting as 16-bit numbers gives the centred sample.
void L2_CH_Results_NP_PXI_Format_Converter::publish_ap_ch_data(demux::Channel_Block& block) {
    const uint64_t cycle = m_super_frame / SAMPLES_PER_PACKET;
    const auto row = static_cast<uint32_t>(m_super_frame % SAMPLES_PER_PACKET);
    if (cycle != m_cycle)
        begin_cycle(cycle);
    int16_t* samples = m_ep->apData[row];
    for (uint32_t channel = 0; channel < NP1_PROBE_CHANNEL_COUNT; ++channel)
        samples[channel] = static_cast<int16_t>(static_cast<uint16_t>(block[channel] - MID_SCALE));
    m_ep->timestamp[row] = static_cast<uint32_t>(10 * m_super_frame / 3);
    m_ep->Status[row] = 0;
    m_rows_written |= 1u << row;
    ++m_ap_sample_count;
    if (row == SAMPLES_PER_PACKET - 1)
        deliver_cycle();
}

// The LFP sample of a cycle is complete in its last super frame, before that super frame's AP
// sample; the packet goes out with the AP sample.
void L2_CH_Results_NP_PXI_Format_Converter::publish_lp_ch_data(demux::Channel_Block& block) {
    const uint64_t cycle = m_super_frame / SAMPLES_PER_PACKET;
    if (cycle != m_cycle)
        begin_cycle(cycle);
    for (uint32_t channel = 0; channel < NP1_PROBE_CHANNEL_COUNT; ++channel)
        m_ep->lfpData[channel] = static_cast<int16_t>(static_cast<uint16_t>(block[channel] - MID_SCALE));
    m_lfp_written = true;
}

// A gap is counted from the last packet the queue took: a packet dropped at a full queue is as
// missing to the host as one the box never sent. Returns the super frames missing before this
// packet, counted once the queue takes it.
uint64_t L2_CH_Results_NP_PXI_Format_Converter::mark_run_and_gaps() {
    if (m_run_begins.exchange(false))
        m_last_queued_cycle = ~uint64_t{0};
    if (m_last_queued_cycle == ~uint64_t{0} || m_cycle <= m_last_queued_cycle) {
        m_ep->Status[0] |= STATUS_TRIGGER;
        return 0;
    }
    const uint64_t missing_cycles = m_cycle - m_last_queued_cycle - 1;
    if (missing_cycles != 0)
        m_ep->Status[0] |= STATUS_ERR_COUNT;
    return missing_cycles * SAMPLES_PER_PACKET;
}

void L2_CH_Results_NP_PXI_Format_Converter::deliver_cycle() {
    constexpr uint32_t ALL_ROWS = (1u << SAMPLES_PER_PACKET) - 1;
    const bool whole = m_rows_written == ALL_ROWS && m_lfp_written;
    m_rows_written = 0;
    m_lfp_written = false;
    if (!whole)
        return;
    const uint64_t missing = mark_run_and_gaps();
    if (m_sync)
        m_sync->add_sync_bits(m_cycle * SAMPLES_PER_PACKET, m_ep->Status, SAMPLES_PER_PACKET);
    const uint64_t cycle = m_cycle;
    ++m_lfp_packet_count;
    if (!m_queue.push_packet_by_swap_quietly(m_ep))
        return;
    m_last_queued_cycle = cycle;
    if (missing != 0) {
        m_super_frames_lost.fetch_add(missing, std::memory_order_relaxed);
        m_gaps.fetch_add(1, std::memory_order_relaxed);
    }
}

} // namespace Selvan::MURA::npoe_adapter
