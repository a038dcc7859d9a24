#include "C_MT_RHD_PXI_Queue.h"

#include "Console.h"

#include <iostream>

namespace Selvan::MURA::npoe_adapter {
namespace {

// Separate from the NP queues' counter; the message text is the same.
std::atomic<uint8_t> g_rhd_queue_overflow_counter{0};

// The TTL input state of the last frame, all 32 bits of it: with fewer bits remembered, an
// input above them would count as a change on every frame.
std::atomic<uint32_t> g_remembered_ttl_in{0};

} // namespace

template class C_Bounded_Packet_Queue<RHD_Sample_Packet>;

MT_RHD_PXI_Queue::MT_RHD_PXI_Queue()
    : C_Bounded_Packet_Queue(
          {"MT_RHD_PXI_Queue::peek_xfer_buffer_from_queue signalled for exit", "MT_NP_PXI_Queue overflow"},
          g_rhd_queue_overflow_counter, CAPACITY) {
    std::cout << "MT_RHD_PXI_Queue ctor " << std::endl;
}

RHD_to_PXI_ADC_Format_Converter::RHD_to_PXI_ADC_Format_Converter() {
    std::cout << "RHD_to_PXI_ADC_Format_Converter ctor" << std::endl;
}

// The auxiliary inputs arrive in offset binary; adding 0x8000 makes them two's complement.
void RHD_to_PXI_ADC_Format_Converter::on_rhd_frame(const demux::RHD_Frame& frame) {
    RHD_Sample_Packet packet{};
    for (uint32_t k = 0; k < frame.auxiliary.size(); ++k)
        packet.samples[k] = static_cast<int16_t>(static_cast<uint16_t>(frame.auxiliary[k] + 0x8000));
    packet.status = status_for(frame.ttl_in);
    m_queue.push_packet(packet);
}

uint16_t RHD_to_PXI_ADC_Format_Converter::status_for(uint32_t ttl_in) {
    uint16_t base = static_cast<uint16_t>((ttl_in >> 8) & 0xFFFE);
    if (g_remembered_ttl_in.load(std::memory_order_relaxed) != ttl_in) {
        console::out("TTL input value change in RHD Frame : {:x}\n", ttl_in);
        base |= 1;
        g_remembered_ttl_in.store(ttl_in, std::memory_order_relaxed);
    }
    return static_cast<uint16_t>(base << 6);
}

bool RHD_to_PXI_ADC_Format_Converter::read_sample_packet_to_buffer(int16_t* samples, uint16_t* status) {
    const RHD_Sample_Packet* packet = m_queue.peek_xfer_buffer_from_queue();
    if (packet == nullptr) {
        if (m_queue.exit_signalled())
            console::out(
                "RHD_to_PXI_ADC_Format_Converter::read_sample_packet_to_buffer signalled for exit\n");
        return false;
    }
    std::copy(packet->samples, packet->samples + RHD_Sample_Packet::SAMPLE_COUNT, samples);
    *status = packet->status;
    m_queue.pop_packet();
    return true;
}

void RHD_to_PXI_ADC_Format_Converter::reset_remembered_ttl_input() {
    g_remembered_ttl_in.store(0);
}

} // namespace Selvan::MURA::npoe_adapter
