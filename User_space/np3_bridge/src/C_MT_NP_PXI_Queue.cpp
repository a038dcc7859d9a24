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

L2_CH_Results_NP_PXI_Format_Converter::L2_CH_Results_NP_PXI_Format_Converter() {
    console::out("L2_CH_Results_NP_PXI_Format_Converter ctor\n");
    console::out("sizeof(m_ep)) : {}\n", sizeof(*m_ep));
}

// Samples are copied bit for bit: the API's signed fields carry the unsigned ADC codes.
void L2_CH_Results_NP_PXI_Format_Converter::publish_ap_ch_data(demux::Channel_Block& block) {
    std::memcpy(m_ep->apData[m_ap_sample_index], block.data(), sizeof(m_ep->apData[0]));
    m_ep->timestamp[m_ap_sample_index] = m_timestamp_seconds;
    m_rows_written |= 1u << m_ap_sample_index;
    ++m_ap_sample_count;
    // Whole seconds of AP samples, counted on instead of divided per sample.
    if (++m_samples_in_second == AP_SAMPLES_PER_SECOND) {
        m_samples_in_second = 0;
        ++m_timestamp_seconds;
    }
    if (++m_ap_sample_index == NP1_PROBE_SUPERFRAMESIZE)
        m_ap_sample_index = 0;
}

void L2_CH_Results_NP_PXI_Format_Converter::publish_lp_ch_data(demux::Channel_Block& block) {
    std::memcpy(m_ep->lfpData, block.data(), sizeof(m_ep->lfpData));
    complete_from_previous_packet();
    const Neuropixels::electrodePacket* assembled = m_ep.get();
    m_queue.push_packet_by_swap(m_ep);
    m_previous = assembled;
    m_rows_written = 0;
    ++m_lfp_packet_count;
    m_ap_sample_index = 0;
}

// The previous packet stays where it is until its slot comes round again, 500 packets later.
void L2_CH_Results_NP_PXI_Format_Converter::complete_from_previous_packet() {
    constexpr uint32_t ALL_ROWS = (1u << NP1_PROBE_SUPERFRAMESIZE) - 1;
    if (m_rows_written == ALL_ROWS || m_previous == nullptr || m_previous == m_ep.get())
        return;
    for (uint32_t row = 0; row < NP1_PROBE_SUPERFRAMESIZE; ++row) {
        if (m_rows_written & (1u << row))
            continue;
        std::memcpy(m_ep->apData[row], m_previous->apData[row], sizeof(m_ep->apData[0]));
        m_ep->timestamp[row] = m_previous->timestamp[row];
    }
}

} // namespace Selvan::MURA::npoe_adapter
