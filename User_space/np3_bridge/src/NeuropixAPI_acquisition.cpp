// Acquisition through the exported API: the main pump thread that moves the device stream into
// the demultiplexer, starting and stopping it (the adapter's start_acquisition and
// stop_acquisition, and the published API's arm and software trigger), and the reads that hand
// packets to the host.

#include "NeuropixAPI.h"

#include "Console.h"
#include "NeuropixAPI_frame.h"
#include "Thread_Name.h"
#include "Thread_Priority.h"

#include <algorithm>
#include <cstring>

namespace Selvan::MURA::api {
namespace {

// After this long a pump that does not end is reported and let go with its library.
std::atomic<int64_t> g_pump_stop_timeout_ms{30000};
constexpr int NP_QUEUE_NOMINAL_DEPTH = 500;
constexpr int RHD_SAMPLES_PER_PACKET = 12;

void report_stream_failure();

void main_pump_thread(int slot_id, int port_id, std::shared_ptr<MURA_Controller_Library> library,
                      std::shared_ptr<Pump_Flags> flags) {
    name_this_thread("np3 pump");
    logging::log(1, "slotID %d, portID %d : Main pump thread started", slot_id, port_id);
    const Priority_Result priority = raise_current_thread_priority();
    if (priority.raised)
        logging::log(1, "ThreadPriority of main pump increased to THREAD_PRIORITY_ABOVE_NORMAL");
    else
        logging::log(1, "SetThreadPriority failed : %d", priority.error_code);
    bool failed = false;
    while (!flags->stop) {
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
    // Asked to stop: what the box holds now goes in too, so that a stop delivers every super
    // frame the box sent before it.
    if (!failed && !library->is_in_simulation_mode()) {
        try {
            library->pump_data_to_demux(false);
        } catch (const std::exception& e) {
            logging::error("main pump thread : exception caught : %s", e.what());
        }
    }
    flags->reading_over = true;
    if (failed) {
        logging::log(1, "error in main pump thread (%d,%d)", slot_id, port_id);
        if (library->get_current_error_level() == MURA_Controller_Library::ERROR_LEVEL_PUMP_FAILED)
            report_stream_failure();
        flags->ended = true;
    } else {
        flags->ended = true;
        logging::log(1, "End of main pump thread (%d,%d)", slot_id, port_id);
    }
}

// Runs `act` on the packet queue of every current converter, under the converters' lock.
template <class Act>
void for_each_packet_queue(Act&& act) {
    Adapter_State& s = state();
    std::lock_guard lock(s.converters_mutex);
    for (auto& converter : s.np_converters) {
        if (converter)
            act(converter->get_queue());
    }
    if (s.rhd_converter)
        act(s.rhd_converter->get_queue());
}

// The packet storage of every queue is made before the box sends, not by the workers in the
// first second of the stream.
void prepare_packet_storage() {
    for_each_packet_queue([](auto& queue) { queue.prepare_packets(); });
}

// The converters' next packets begin a run (TRIGGER; the time before them is no gap), and the
// sync timeline waits for RHD frames again.
void begin_run() {
    Adapter_State& s = state();
    std::lock_guard lock(s.converters_mutex);
    for (const auto& converter : s.np_converters) {
        if (converter)
            converter->begin_run();
    }
    if (s.rhd_converter)
        s.rhd_converter->begin_run();
    if (s.sync_timeline)
        s.sync_timeline->begin_run();
}

// The stream stopped: no electrode converter waits any longer for RHD frames to place its
// samples on the sync timeline.
void end_sync_waits() {
    Adapter_State& s = state();
    std::lock_guard lock(s.converters_mutex);
    if (s.sync_timeline)
        s.sync_timeline->end();
}

// The device stream broke (a failed read of the hardware stream): nothing more will come, so
// the readers waiting for it are released, and reads that find nothing left say why.
void report_stream_failure() {
    logging::error("The device stream failed; acquisition delivers no more data (stop or arm, then start "
                   "again)");
    state().stream_failed = true;
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

// A pump let go earlier that still runs on this library: a second pump would race it.
bool stuck_pump_on(const std::shared_ptr<MURA_Controller_Library>& library) {
    Adapter_State& s = state();
    return s.stuck_pump_flags && !s.stuck_pump_flags->ended && s.stuck_pump_library.lock() == library;
}

// start_acquisition and the software trigger on an armed slot. The caller holds the control
// lock.
NP_ErrorCode start_acquisition_locked(int slot_id, int port_id, const char* function) {
    Adapter_State& s = state();
    const std::shared_ptr<MURA_Controller_Library> library = open_library(function);
    if (!library)
        return Neuropixels::FAILED;
    const bool triggered = s.armed;
    s.armed = false;
    if (s.acquisition_started)
        return Neuropixels::SUCCESS;
    if (stuck_pump_on(library)) {
        logging::error("%s : the pump thread of the previous acquisition has not ended; close and open "
                       "the basestation again",
                       function);
        return Neuropixels::FAILED;
    }
    if (triggered && s.data_path_used)
        install_converters(*library);
    s.data_path_used = true;
    s.stream_failed = false;
    prepare_packet_storage();
    begin_run();
    library->enable_streaming(true, {0, 1, 2, 3}, true, {}, true);
    auto pump = std::make_unique<Main_Pump>();
    pump->flags = std::make_shared<Pump_Flags>();
    pump->library = library;
    pump->thread = std::thread(main_pump_thread, slot_id, port_id, library, pump->flags);
    s.main_pump = std::move(pump);
    s.acquisition_started = true;
    return Neuropixels::SUCCESS;
}

// stop_acquisition and the stopping part of arm. The caller holds the control lock.
// Exact figures of what an acquisition lost, for hosts that read the log: per port every super
// frame the host did not get (whole packets of 12: the box's overflow, rows lost on the way, a
// full queue) in how many gaps, and of that the packets refused by a full queue (the overflow
// line appears only once per 256 of them) and the super frames the demultiplexer dropped after
// lost rows; the RHD frames likewise. Since the converters were installed (openBS or arm).
void log_data_lost(const std::shared_ptr<MURA_Controller_Library>& library) {
    for (int port = 1; port <= static_cast<int>(API_PORT_COUNT); ++port) {
        const auto converter = np_converter(port);
        const unsigned long long dropped = converter ? converter->get_queue().dropped_count() : 0;
        const unsigned long long super_frames =
            library ? library->get_super_frames_lost(static_cast<uint32_t>(port - 1)) : 0;
        logging::info(
            "Data lost on port %d : %llu super frames in %llu gaps; %llu packets dropped at the queue, "
            "%llu super frames dropped by the demultiplexer",
            port, static_cast<unsigned long long>(converter ? converter->get_super_frames_lost() : 0),
            static_cast<unsigned long long>(converter ? converter->get_gap_count() : 0), dropped,
            super_frames);
    }
    const auto adc = rhd_converter();
    logging::info("ADC packets lost : %llu frames in %llu gaps; %llu dropped at the queue",
                  static_cast<unsigned long long>(adc ? adc->get_frames_lost() : 0),
                  static_cast<unsigned long long>(adc ? adc->get_gap_count() : 0),
                  static_cast<unsigned long long>(adc ? adc->get_queue().dropped_count() : 0));
}

} // namespace

bool nothing_copied_from_failed_stream(int copied) {
    return copied == 0 && state().stream_failed;
}

// The pump takes its last read before the streams go off (the box discards what it holds once
// they are), and the data path then delivers every whole super frame of it before the stop
// returns: a host reads the end of its run after the stop.
void stop_acquisition_locked(int slot_id) {
    Adapter_State& s = state();
    if (!s.acquisition_started)
        return;
    s.acquisition_started = false;
    logging::info("Stopping main stream. (%d)", slot_id);
    const bool pump_ended = stop_pump_thread(slot_id, true);
    const auto library = current_library();
    if (library) {
        library->disable_streaming();
        if (pump_ended)
            library->finish_run();
    }
    end_sync_waits();
    log_data_lost(library);
}

void set_pump_stop_timeout(std::chrono::milliseconds timeout) {
    g_pump_stop_timeout_ms = timeout.count();
}

// The pump ends after its current transfer. Its end is polled in short steps of real time, so a
// stop costs what the pump needs; a line is logged for every second of waiting. A pump that
// does not end in time keeps running, detached, on its own reference to its library.
bool stop_pump_thread(int slot_id, bool log_waits) {
    using namespace std::chrono;
    Adapter_State& s = state();
    if (!s.main_pump)
        return true;
    Main_Pump& pump = *s.main_pump;
    pump.flags->stop = true;
    const milliseconds limit(g_pump_stop_timeout_ms.load());
    const auto start = steady_clock::now();
    auto next_report = start;
    while (!pump.flags->reading_over && steady_clock::now() - start < limit) {
        if (log_waits && steady_clock::now() >= next_report) {
            logging::info("Waiting main pump to stop. (%d)", slot_id);
            next_report += seconds(1);
        }
        std::this_thread::sleep_for(milliseconds(2));
    }
    const bool ended = pump.flags->reading_over;
    if (ended) {
        pump.thread.join();
    } else {
        logging::error("The main pump thread did not stop within %d ms", static_cast<int>(limit.count()));
        logging::error("The main pump thread is left running with its basestation, which is released "
                       "when the thread ends");
        pump.thread.detach();
        s.stuck_pump_flags = pump.flags;
        s.stuck_pump_library = pump.library;
    }
    s.main_pump.reset();
    return ended;
}

// Arms the slot: a running acquisition stops and delivers what the box sent, which the host may
// still read until the trigger; the next run then starts with fresh converters on the fresh
// data path the stop left, so that nothing of the stopped run (a queued packet, a partial
// packet) reaches it. The caller holds the control lock.
NP_ErrorCode arm_locked(int slot_id) {
    Adapter_State& s = state();
    const std::shared_ptr<MURA_Controller_Library> library = open_library("arm");
    if (!library)
        return Neuropixels::FAILED;
    stop_acquisition_locked(slot_id);
    s.armed = true;
    return Neuropixels::SUCCESS;
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
        std::lock_guard lock(state().control_mutex);
        return start_acquisition_locked(slotID, portID, "start_acquisition");
    });
}

NP_ErrorCode NP_APIC stop_acquisition(int slotID, int portID) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "stop_acquisition");
    logging::info("slotID : %d, portID : %d", slotID, portID);
    return guarded("stop_acquisition", FAILED, [&] {
        std::lock_guard lock(state().control_mutex);
        stop_acquisition_locked(slotID);
        return SUCCESS;
    });
}

NP_ErrorCode NP_APIC arm(int slotID) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "arm");
    logging::info("slotID : %d", slotID);
    return guarded("arm", FAILED, [&] {
        std::lock_guard lock(state().control_mutex);
        return arm_locked(slotID);
    });
}

// The published API starts acquisition with a software trigger on an armed slot.
NP_ErrorCode NP_APIC setSWTrigger(int slotID) {
    MURA_LOG_SCOPE(1, "setSWTrigger");
    logging::log(1, "slotID : %d", slotID);
    return guarded("setSWTrigger", FAILED, [&] {
        std::lock_guard lock(state().control_mutex);
        if (!state().armed) {
            logging::info("setSWTrigger : slot %d is not armed, nothing is started", slotID);
            return SUCCESS;
        }
        return start_acquisition_locked(slotID, 0, "setSWTrigger");
    });
}

NP_ErrorCode NP_APIC setSWTriggerEx(int slotID, swtriggerflags_t) {
    MURA_LOG_SCOPE(1, "setSWTriggerEx");
    logging::log(1, "%d", slotID);
    return guarded("setSWTriggerEx", FAILED, [&] {
        std::lock_guard lock(state().control_mutex);
        if (!state().armed) {
            logging::info("setSWTriggerEx : slot %d is not armed, nothing is started", slotID);
            return SUCCESS;
        }
        return start_acquisition_locked(slotID, 0, "setSWTriggerEx");
    });
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
    // Hosts poll the fill and sleep for what is missing: a read returns at once with what is
    // queued, so it adds nothing to the data's latency, and a port that stops delivering holds
    // up no reader.
    const auto copied =
        static_cast<int>(converter->get_queue().take_packets(packets, static_cast<size_t>(requestedAmount)));
    *actualAmount = copied;
    if (copied > 0)
        report_throughput(portID - 1, copied);
    return nothing_copied_from_failed_stream(copied) ? IO_ERROR : SUCCESS;
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
    // As readElectrodeData: what is queued, at once.
    const auto copied =
        static_cast<int>(converter->take_sample_packets(pckinfo, data, static_cast<size_t>(packetcount)));
    *packetsread = copied;
    return nothing_copied_from_failed_stream(copied) ? IO_ERROR : SUCCESS;
}

} // namespace Neuropixels
