// Acquisition through the exported API: the main pump thread that moves the device stream into
// the demultiplexer, starting and stopping it, and the reads that hand packets to the host.

#include "NeuropixAPI.h"

#include "Console.h"
#include "NeuropixAPI_frame.h"
#include "Thread_Priority.h"

#include <algorithm>
#include <cstring>

namespace Selvan::MURA::api {
namespace {

// After this long a pump that does not end is reported and stopping gives up on it.
constexpr std::chrono::seconds PUMP_STOP_TIMEOUT{30};
constexpr int NP_QUEUE_NOMINAL_DEPTH = 500;
constexpr int RHD_SAMPLES_PER_PACKET = 12;

void main_pump_thread(int slot_id, int port_id, MURA_Controller_Library* library) {
    Adapter_State& s = state();
    logging::log(1, "slotID %d, portID %d : Main pump thread started", slot_id, port_id);
    const Priority_Result priority = raise_current_thread_priority();
    if (priority.raised)
        logging::log(1, "ThreadPriority of main pump increased to THREAD_PRIORITY_ABOVE_NORMAL");
    else
        logging::log(1, "SetThreadPriority failed : %d", priority.error_code);
    bool failed = false;
    while (!s.stop_main_pump) {
        bool pumped = false;
        try {
            pumped = library->pump_data_to_demux();
        } catch (const std::exception& e) {
            logging::error("main pump thread : exception caught : %s", e.what());
        }
        if (!pumped) {
            failed = true;
            break;
        }
    }
    if (failed) {
        logging::log(1, "error in main pump thread (%d,%d)", slot_id, port_id);
        s.main_pump_ended = true;
    } else {
        s.main_pump_ended = true;
        logging::log(1, "End of main pump thread (%d,%d)", slot_id, port_id);
    }
}

void wake_readers() {
    Adapter_State& s = state();
    std::lock_guard lock(s.converters_mutex);
    for (auto& converter : s.np_converters) {
        if (converter)
            converter->get_queue().wake_readers();
    }
    if (s.rhd_converter)
        s.rhd_converter->wake_readers();
}

void report_throughput(int port_index, int requested_count) {
    Adapter_State& s = state();
    s.packets_since_report[port_index] += static_cast<uint64_t>(requested_count);
    if (s.transfer_report_counter[port_index]++ != 0)
        return;
    std::lock_guard lock(s.transfer_report_mutex);
    const auto now = std::chrono::steady_clock::now();
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(now - s.transfer_report_time).count();
    if (seconds != 0) {
        const uint64_t bytes =
            s.packets_since_report[port_index].exchange(0) * sizeof(Neuropixels::electrodePacket);
        console::out("{} electrode packet transferred. NP port : {}, data : {} MB/s\n", requested_count,
                     port_index, bytes / static_cast<uint64_t>(seconds) / 1000000);
    }
    s.transfer_report_time = now;
}

} // namespace

// Readers blocked now or later return at once, without a packet.
void signal_exit_to_readers() {
    Adapter_State& s = state();
    std::lock_guard lock(s.converters_mutex);
    for (auto& converter : s.np_converters) {
        if (converter)
            converter->get_queue().signal_exit();
    }
    if (s.rhd_converter)
        s.rhd_converter->signal_exit();
}

// The pump ends after its current transfer. Its end is polled in short steps of real time, so a
// stop costs what the pump needs; a line is logged for every second of waiting.
void stop_pump_thread(int slot_id, bool log_waits) {
    using namespace std::chrono;
    Adapter_State& s = state();
    s.stop_main_pump = true;
    if (!s.main_pump_thread)
        return;
    const auto start = steady_clock::now();
    auto next_report = start;
    while (!s.main_pump_ended && steady_clock::now() - start < PUMP_STOP_TIMEOUT) {
        if (log_waits && steady_clock::now() >= next_report) {
            logging::info("Waiting main pump to stop. (%d)", slot_id);
            next_report += seconds(1);
        }
        std::this_thread::sleep_for(milliseconds(2));
    }
    if (!s.main_pump_ended) {
        logging::error("The main pump thread did not stop within %d s",
                       static_cast<int>(PUMP_STOP_TIMEOUT.count()));
        return;
    }
    s.main_pump_thread->join();
    s.main_pump_thread.reset();
}

} // namespace Selvan::MURA::api

namespace Neuropixels {

using namespace Selvan::MURA;
using namespace Selvan::MURA::api;

// ---------------------------------------------------------------------------------------------
// Acquisition
// ---------------------------------------------------------------------------------------------

NP_ErrorCode NP_APIC start_acquisition(int slotID, int portID) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "start_acquisition");
    logging::info("starting acquisition : slotID : %d, portID : %d", slotID, portID);
    return guarded("start_acquisition", FAILED, [&] {
        MURA_Controller_Library* library = open_library("start_acquisition");
        if (!library)
            return FAILED;
        Adapter_State& s = state();
        bool expected = false;
        if (!s.acquisition_started.compare_exchange_strong(expected, true))
            return SUCCESS;
        try {
            library->enable_streaming(true, {0, 1, 2, 3}, true, {}, true);
            s.main_pump_ended = false;
            s.stop_main_pump = false;
            s.main_pump_thread = std::make_unique<std::thread>(main_pump_thread, slotID, portID, library);
        } catch (...) {
            s.acquisition_started = false;
            s.main_pump_ended = true;
            throw;
        }
        return SUCCESS;
    });
}

NP_ErrorCode NP_APIC stop_acquisition(int slotID, int portID) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "stop_acquisition");
    logging::info("slotID : %d, portID : %d", slotID, portID);
    return guarded("stop_acquisition", FAILED, [&] {
        Adapter_State& s = state();
        bool expected = true;
        if (!s.acquisition_started.compare_exchange_strong(expected, false))
            return SUCCESS;
        logging::info("Stopping main stream. (%d)", slotID);
        if (s.library)
            s.library->disable_streaming();
        s.stop_main_pump = true;
        // Readers waiting on empty queues return with what they have copied.
        wake_readers();
        stop_pump_thread(slotID, true);
        return SUCCESS;
    });
}

NP_ErrorCode NP_APIC arm(int slotID) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "arm");
    logging::info("slotID : %d", slotID);
    return SUCCESS;
}

NP_ErrorCode NP_APIC readElectrodeData(int, int portID, int, struct electrodePacket* packets,
                                       int* actualAmount, int requestedAmount) {
    if (actualAmount)
        *actualAmount = 0;
    if (requestedAmount <= 0)
        return SUCCESS;
    if (!valid_api_port(portID) || !packets || !actualAmount) {
        logging::error("readElectrodeData : invalid arguments (portID %d)", portID);
        return FAILED;
    }
    // The reader keeps its own reference: an openBS replacing the converters cannot free the
    // queue under it.
    const std::shared_ptr<NP_Converter> converter = np_converter(portID);
    if (!converter) {
        logging::error("readElectrodeData : the basestation is not open (openBS has not succeeded)");
        return FAILED;
    }
    Adapter_State& s = state();
    auto& queue = converter->get_queue();
    for (int i = 0; i < requestedAmount; ++i) {
        const electrodePacket* packet = queue.peek_xfer_buffer_from_queue();
        if (packet)
            std::memcpy(&packets[i], packet, sizeof(electrodePacket));
        if (!packet || s.stop_main_pump) {
            *actualAmount = i;
            return SUCCESS;
        }
        queue.pop_packet();
    }
    report_throughput(portID - 1, requestedAmount);
    *actualAmount = requestedAmount;
    return SUCCESS;
}

NP_ErrorCode NP_APIC getElectrodeDataFifoState(int, int portID, int, int* packetsavailable, int* headroom) {
    if (!valid_api_port(portID)) {
        logging::error("getElectrodeDataFifoState : invalid portID %d", portID);
        return FAILED;
    }
    const std::shared_ptr<NP_Converter> converter = np_converter(portID);
    if (!converter) {
        logging::error("getElectrodeDataFifoState : the basestation is not open (openBS has not succeeded)");
        return FAILED;
    }
    const int available = static_cast<int>(converter->get_queue().element_count());
    if (packetsavailable)
        *packetsavailable = available;
    if (headroom)
        *headroom = std::max(0, NP_QUEUE_NOMINAL_DEPTH - available);
    return SUCCESS;
}

NP_ErrorCode NP_APIC ADC_readPackets(int, struct PacketInfo* pckinfo, int16_t* data, int channelcount,
                                     int packetcount, int* packetsread) {
    if (packetsread)
        *packetsread = 0;
    if (packetcount <= 0)
        return SUCCESS;
    if (!pckinfo || !data || !packetsread || channelcount < RHD_SAMPLES_PER_PACKET) {
        logging::error("ADC_readPackets : invalid arguments (channel count %d, 12 samples per packet)",
                       channelcount);
        return FAILED;
    }
    const std::shared_ptr<RHD_Converter> converter = rhd_converter();
    if (!converter) {
        logging::error("ADC_readPackets : the basestation is not open (openBS has not succeeded)");
        return FAILED;
    }
    Adapter_State& s = state();
    for (int i = 0; i < packetcount; ++i) {
        pckinfo[i].Timestamp = 0;
        pckinfo[i].payloadlength = 0;
        const bool copied =
            converter->read_sample_packet_to_buffer(data + RHD_SAMPLES_PER_PACKET * i, &pckinfo[i].Status);
        if (!copied || converter->exit_signalled() || s.stop_main_pump) {
            *packetsread = copied ? i + 1 : i;
            return SUCCESS;
        }
    }
    *packetsread = packetcount;
    return SUCCESS;
}

} // namespace Neuropixels
