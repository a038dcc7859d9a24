#include "C_MT_RHD_PXI_Queue.h"

#include "Console.h"

#include <algorithm>
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

RHD_to_PXI_ADC_Format_Converter::RHD_to_PXI_ADC_Format_Converter(std::shared_ptr<C_Sync_Timeline> sync)
    : m_sync(std::move(sync)) {
    std::cout << "RHD_to_PXI_ADC_Format_Converter ctor" << std::endl;
}

// The 32-bit timestamp wraps after 39 hours and is counted on past it: one that goes back by
// more than half its range has wrapped, one that goes back less is a new run (the counters
// restart at the trigger).
uint64_t RHD_to_PXI_ADC_Format_Converter::sample_of(uint32_t timestamp) {
    constexpr uint64_t WRAP = uint64_t{1} << 32;
    if (m_run_begins.exchange(false)) {
        m_last_sample = ~uint64_t{0};
        m_timestamp_high = 0;
    }
    const uint64_t last = m_last_sample;
    uint64_t sample = m_timestamp_high + timestamp;
    if (last != ~uint64_t{0} && sample < last) {
        if (last - sample > WRAP / 2) {
            m_timestamp_high += WRAP;
            sample += WRAP;
        } else {
            m_timestamp_high = 0;
            sample = timestamp;
            m_last_sample = ~uint64_t{0};
        }
    }
    if (m_last_sample != ~uint64_t{0} && sample > last + 1) {
        m_frames_lost.fetch_add(sample - last - 1, std::memory_order_relaxed);
        m_gaps.fetch_add(1, std::memory_order_relaxed);
    }
    m_last_sample = sample;
    return sample;
}

// The auxiliary inputs arrive in offset binary; adding 0x8000 makes them two's complement.
void RHD_to_PXI_ADC_Format_Converter::on_rhd_frame(const demux::RHD_Frame& frame) {
    RHD_Sample_Packet packet{};
    for (uint32_t k = 0; k < frame.auxiliary.size(); ++k)
        packet.samples[k] = static_cast<int16_t>(static_cast<uint16_t>(frame.auxiliary[k] + 0x8000));
    packet.status = status_for(frame.ttl_in);
    const uint64_t sample = sample_of(frame.timestamp);
    packet.timestamp = static_cast<uint32_t>(10 * sample / 3);
    if (m_sync)
        m_sync->record(sample, frame.ttl_in);
    m_queue.push_packet_quietly(packet);
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

bool RHD_to_PXI_ADC_Format_Converter::read_sample_packet_to_buffer(int16_t* samples, uint16_t* status,
                                                                   uint32_t* timestamp) {
    const RHD_Sample_Packet* packet = m_queue.peek_xfer_buffer_from_queue();
    if (packet == nullptr) {
        if (m_queue.exit_signalled())
            console::out(
                "RHD_to_PXI_ADC_Format_Converter::read_sample_packet_to_buffer signalled for exit\n");
        return false;
    }
    std::copy(packet->samples, packet->samples + RHD_Sample_Packet::SAMPLE_COUNT, samples);
    *status = packet->status;
    if (timestamp)
        *timestamp = packet->timestamp;
    m_queue.pop_packet();
    return true;
}

size_t RHD_to_PXI_ADC_Format_Converter::take_sample_packets(Neuropixels::PacketInfo* info, int16_t* data,
                                                            size_t count) {
    return m_queue.take_packets_with(count, [info, data](const RHD_Sample_Packet& packet, size_t i) {
        std::copy(packet.samples, packet.samples + RHD_Sample_Packet::SAMPLE_COUNT,
                  data + i * RHD_Sample_Packet::SAMPLE_COUNT);
        info[i] = {packet.timestamp, packet.status, 0};
    });
}

void RHD_to_PXI_ADC_Format_Converter::reset_remembered_ttl_input() {
    g_remembered_ttl_in.store(0);
}

} // namespace Selvan::MURA::npoe_adapter
