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
          g_np_queue_overflow_counter) {}

L2_CH_Results_NP_PXI_Format_Converter::L2_CH_Results_NP_PXI_Format_Converter() {
    console::out("L2_CH_Results_NP_PXI_Format_Converter ctor\n");
    console::out("sizeof(m_ep)) : {}\n", sizeof(m_ep));
}

// Samples are copied bit for bit: the API's signed fields carry the unsigned ADC codes.
void L2_CH_Results_NP_PXI_Format_Converter::publish_ap_ch_data(demux::Channel_Block& block) {
    std::memcpy(m_ep.apData[m_ap_sample_index], block.data(), sizeof(m_ep.apData[0]));
    m_ep.timestamp[m_ap_sample_index] = static_cast<uint32_t>(m_ap_sample_count / AP_SAMPLES_PER_SECOND);
    ++m_ap_sample_count;
    if (++m_ap_sample_index == NP1_PROBE_SUPERFRAMESIZE)
        m_ap_sample_index = 0;
}

void L2_CH_Results_NP_PXI_Format_Converter::publish_lp_ch_data(demux::Channel_Block& block) {
    std::memcpy(m_ep.lfpData, block.data(), sizeof(m_ep.lfpData));
    m_queue.push_packet(m_ep);
    ++m_lfp_packet_count;
    m_ap_sample_index = 0;
}

} // namespace Selvan::MURA::npoe_adapter
