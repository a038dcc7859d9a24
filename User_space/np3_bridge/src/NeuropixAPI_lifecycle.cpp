// The exported Neuropixels API of the adapter: the frame every call shares, the basestation
// lifecycle, acquisition with the main pump thread and the blocking reads, and the probe
// configuration and identification wrappers. Hardware work is the controller library's.

#include "NeuropixAPI.h"

#include "Console.h"
#include "NeuropixAPI_frame.h"
#include "Pause.h"
#include "Thread_Priority.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

namespace Selvan::MURA::api {
namespace {

// After this long a pump that does not end is reported and stopping gives up on it.
constexpr std::chrono::seconds PUMP_STOP_TIMEOUT{30};
constexpr std::chrono::milliseconds I2C_INIT_POLL{1000};
constexpr uint32_t I2C_INIT_POLL_LIMIT = 30;
constexpr int NP_QUEUE_NOMINAL_DEPTH = 500;
constexpr int RHD_SAMPLES_PER_PACKET = 12;
constexpr int TEST_PATH_SLOT = 16;
constexpr const char* FALLBACK_HS_PART_NUMBER = "NP2_HS_30";

// Reads the first line of a marker file in the working directory, announcing on standard
// output whether it is there. A Windows line end is removed with the newline.
std::optional<std::string> read_marker_file(const char* name) {
    std::ifstream file(name);
    if (!file) {
        console::out("{} not present in working directory\n", name);
        return std::nullopt;
    }
    console::out("{} file present in working directory\n", name);
    std::string line;
    std::getline(file, line);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

uint32_t narrow_length(size_t length) {
    return static_cast<uint32_t>(std::min<size_t>(length, UINT32_MAX));
}

// Copies as much of `text` as fits into `size` bytes and always terminates.
void bounded_copy(char* destination, size_t size, const char* text) {
    if (!destination || size == 0)
        return;
    const size_t count = std::min(std::strlen(text), size - 1);
    std::memcpy(destination, text, count);
    destination[count] = '\0';
}

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

// Each port's converter feeds its queue through the port's gain filter; the previous
// converters' readers are released before the converters are let go.
void install_converters(MURA_Controller_Library& library) {
    Adapter_State& s = state();
    std::array<std::shared_ptr<NP_Converter>, API_PORT_COUNT> np_converters;
    for (auto& converter : np_converters)
        converter = std::make_shared<NP_Converter>();
    auto rhd = std::make_shared<RHD_Converter>();
    {
        std::lock_guard lock(s.converters_mutex);
        for (auto& old : s.np_converters) {
            if (old)
                old->get_queue().signal_exit();
        }
        if (s.rhd_converter)
            s.rhd_converter->signal_exit();
        s.np_converters = np_converters;
        s.rhd_converter = rhd;
    }
    for (uint32_t port = 0; port < API_PORT_COUNT; ++port)
        library.set_NP_aqustion_listener(np_converters[port], port, true);
    library.set_RHD_aqustion_listener(rhd);
}

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

Adapter_State& state() {
    static Adapter_State adapter_state;
    return adapter_state;
}

// At process exit the host may not have closed the box. Threads of the process may already be
// gone (on Windows they are, before a DLL's globals go), and joining from an unload path can
// deadlock: the pump is asked to stop and given a moment, then let go, and the library with
// its device and threads is left to the operating system.
Adapter_State::~Adapter_State() {
    // What is let go stays reachable from here for the rest of the process.
    static std::thread* abandoned_pump = nullptr;
    static MURA_Controller_Library* abandoned_library = nullptr;
    if (main_pump_thread) {
        stop_main_pump = true;
        for (int i = 0; i < 200 && !main_pump_ended; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        main_pump_thread->detach();
        abandoned_pump = main_pump_thread.release();
    }
    if (library)
        abandoned_library = library.release();
}

std::shared_ptr<NP_Converter> np_converter(int api_port) {
    Adapter_State& s = state();
    std::lock_guard lock(s.converters_mutex);
    return s.np_converters[static_cast<size_t>(api_port - 1)];
}

std::shared_ptr<RHD_Converter> rhd_converter() {
    Adapter_State& s = state();
    std::lock_guard lock(s.converters_mutex);
    return s.rhd_converter;
}

MURA_Controller_Library* open_library(const char* function) {
    MURA_Controller_Library* library = state().library.get();
    if (!library)
        logging::error("%s : the basestation is not open (openBS has not succeeded)", function);
    return library;
}

bool valid_api_port(int port_id) {
    return port_id >= 1 && port_id <= API_PORT_COUNT;
}

NP_ErrorCode not_supported(const char* function) {
    MURA_LOG_SCOPE(1, function);
    logging::log(1, "not supported");
    return Neuropixels::NOTSUPPORTED;
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
// Basestation lifecycle
// ---------------------------------------------------------------------------------------------

int NP_APIC getDeviceList(struct basestationID* list, int count) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "getDeviceList");
    logging::info("count : %d", count);
    std::call_once(state().log_file_added, [] { logging::add_file(LOG_FILE_NAME, logging::Verbosity_MAX); });
    if (list && count >= 1)
        *list = {NPPlatform_USB, 1};
    return 1;
}

NP_ErrorCode NP_APIC getDeviceInfo(int slotID, struct basestationID* info) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "getDeviceInfo");
    logging::info("slotID : %d", slotID);
    if (info)
        *info = {NPPlatform_USB, 1};
    return SUCCESS;
}

bool NP_APIC tryGetSlotID(const basestationID*, int* slotID) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "tryGetSlotID");
    logging::log(1, "%d", 0);
    if (slotID)
        *slotID = 0;
    return true;
}

NP_ErrorCode NP_APIC detectHeadStage(int slotID, int portID, bool* detected) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "detectHeadStage");
    logging::info("slotID : %d, portID : %d", slotID, portID);
    MURA_Controller_Library* library = open_library("detectHeadStage");
    if (!library)
        return FAILED;
    const uint8_t mask = library->get_cached_np_port_status();
    const uint8_t count = library->get_np_port_count_from_fpga_signature();
    bool present[API_PORT_COUNT] = {};
    for (int i = 0; i < API_PORT_COUNT && i < count; ++i)
        present[i] = (mask >> i) & 1;
    if (detected)
        *detected = valid_api_port(portID) && present[portID - 1];
    return SUCCESS;
}

NP_ErrorCode NP_APIC openBS(int slotID) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "openBS");
    return guarded("openBS", VERSION_MISMATCH, [&] {
        Adapter_State& s = state();
        logging::info("slotID : %d", slotID);
        if (s.library)
            logging::info("Warning re initalizing library. slotID : %d", slotID);
        // A pump still running would keep using the library that is about to be replaced.
        if (s.main_pump_thread) {
            logging::warning("openBS : acquisition is still running; stopping it first");
            s.library->disable_streaming();
            stop_pump_thread(slotID, false);
            s.acquisition_started = false;
        }
        const bool simulation = read_marker_file(SIMULATION_MARKER).has_value();
        auto previous = std::exchange(s.library, std::make_unique<MURA_Controller_Library>(simulation));
        previous.reset();
        MURA_Controller_Library& library = *s.library;
        if (!library.open() || !library.check_and_switch_firmware_if_nec(true) || !library.pre_init(true))
            return VERSION_MISMATCH;
        s.stop_main_pump = false;
        install_converters(library);
        if (library.is_in_simulation_mode()) {
            const auto source = read_marker_file(SIMULATION_MARKER);
            if (!source || !library.prepare_for_simulation_streaming(*source))
                return VERSION_MISMATCH;
        } else {
            library.prepare_for_streaming();
        }
        logging::info("Converter data structures prepared (%d)", slotID);
        return SUCCESS;
    });
}

NP_ErrorCode NP_APIC openPort(int slotID, int portID) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "openPort");
    logging::info("slotID : %d, portID : %d", slotID, portID);
    return guarded("openPort", FAILED, [&] {
        MURA_Controller_Library* library = open_library("openPort");
        if (!library)
            return FAILED;
        Adapter_State& s = state();
        bool ok = false;
        {
            std::lock_guard lock(s.probe_access_mutex);
            ok = library->probe_init_part_1(static_cast<uint32_t>(portID - 1));
        }
        s.i2c_comm_initialized = true;
        return result_of(ok);
    });
}

NP_ErrorCode NP_APIC openProbe(int slotID, int portID, int dockID) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "openProbe");
    logging::info("slotID : %d, portID : %d, dockID : %d", slotID, portID, dockID);
    return SUCCESS;
}

NP_ErrorCode NP_APIC init(int slotID, int portID, int dockID) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "init");
    logging::info("slotID : %d, portID : %d, dockID : %d", slotID, portID, dockID);
    return guarded("init", FAILED, [&] {
        MURA_Controller_Library* library = open_library("init");
        if (!library)
            return FAILED;
        int config = INIT_STANDARD;
        if (const auto line = read_marker_file(INIT_MODE_MARKER)) {
            try {
                config = std::stoi(*line);
            } catch (const std::exception&) {
                console::err("Exception catched at init config integer conversion\n");
            }
        }
        logging::info("Using init config : %d", config);
        return result_of(library->probe_init_part_2(static_cast<uint32_t>(portID - 1),
                                                    static_cast<E_MURA_Init_Config>(config)));
    });
}

NP_ErrorCode NP_APIC closeProbe(int slotID, int portID, int) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "closeProbe");
    logging::info("slotID : %d, portID : %d", slotID, portID);
    return SUCCESS;
}

NP_ErrorCode NP_APIC closePort(int slotID, int portID) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "closePort");
    logging::info("SlotID : %d, portID : %d", slotID, portID);
    return SUCCESS;
}

NP_ErrorCode NP_APIC closeBS(int slotID) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "closeBS");
    logging::info("SlotID : %d", slotID);
    return guarded("closeBS", FAILED, [&] {
        MURA_Controller_Library* library = open_library("closeBS");
        if (!library)
            return FAILED;
        Adapter_State& s = state();
        library->disable_streaming();
        s.stop_main_pump = true;
        signal_exit_to_readers();
        stop_pump_thread(slotID, false);
        // With the pump joined, a later openBS and start_acquisition start afresh.
        if (!s.main_pump_thread)
            s.acquisition_started = false;
        s.library.reset();
        return SUCCESS;
    });
}

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

// ---------------------------------------------------------------------------------------------
// Probe configuration and identification
// ---------------------------------------------------------------------------------------------

namespace {

// A configuration call: open library, 0-based port, bool result mapped to 0 / 1.
template <class Call>
NP_ErrorCode configure(const char* function, Call&& call) {
    return guarded(function, FAILED, [&] {
        MURA_Controller_Library* library = open_library(function);
        return library ? result_of(call(*library)) : FAILED;
    });
}

uint32_t library_port(int port_id) {
    return static_cast<uint32_t>(port_id - 1);
}

const char* opmode_name(probe_opmode_t mode) {
    switch (mode) {
    case RECORDING:
        return "RECORDING";
    case CALIBRATION:
        return "CALIBRATION";
    case DIGITAL_TEST:
        return "DIGITAL_TEST";
    default:
        return "?";
    }
}

} // namespace

NP_ErrorCode NP_APIC selectElectrode(int slotID, int portID, int dockID, int channel, int shank, int bank) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "selectElectrode");
    logging::info("slotID : %d, portID : %d, dockID : %d", slotID, portID, dockID);
    logging::info("channel=%d, bank=%d", channel, bank);
    return configure("selectElectrode", [&](MURA_Controller_Library& library) {
        return library.selectElectrode(library_port(portID), channel, shank, bank);
    });
}

NP_ErrorCode NP_APIC setGain(int slotID, int portID, int dockID, int channel, int ap_gain, int lfp_gain) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "setGain");
    logging::info("slotID : %d, portID : %d, dockID : %d", slotID, portID, dockID);
    logging::info("channel=%d, ap_gain=%d, lfp_gain=%d", channel, ap_gain, lfp_gain);
    return configure("setGain", [&](MURA_Controller_Library& library) {
        return library.setGain(library_port(portID), channel, ap_gain, lfp_gain);
    });
}

NP_ErrorCode NP_APIC getGain(int, int portID, int, int channel, int* APgainselect, int* LFPgainselect) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "getGain");
    const NP_ErrorCode result = configure("getGain", [&](MURA_Controller_Library& library) {
        return library.getGain(library_port(portID), channel, APgainselect, LFPgainselect);
    });
    logging::info("portID : %d, APgainselect : %d, LFPgainselect : %d", portID,
                  APgainselect ? *APgainselect : 0, LFPgainselect ? *LFPgainselect : 0);
    return result;
}

NP_ErrorCode NP_APIC setReference(int slotID, int portID, int dockID, int channel, int shank,
                                  channelreference_t reference, int intRefElectrodeBank) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "setReference");
    logging::info("slotID : %d, portID : %d, dockID : %d", slotID, portID, dockID);
    logging::info("channel=%d,reference=%d,bank=%d", channel, static_cast<int>(reference),
                  intRefElectrodeBank);
    return configure("setReference", [&](MURA_Controller_Library& library) {
        return library.setReference(library_port(portID), channel, shank,
                                    static_cast<Selvan::MURA::channelreference_t>(reference),
                                    intRefElectrodeBank);
    });
}

NP_ErrorCode NP_APIC setAPCornerFrequency(int slotID, int portID, int dockID, int channel,
                                          bool disableHighPass) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "setAPCornerFrequency");
    logging::info("slotID : %d, portID : %d, dockID : %d", slotID, portID, dockID);
    logging::info("channel=%d, disableHighPass : %d", channel, disableHighPass);
    return configure("setAPCornerFrequency", [&](MURA_Controller_Library& library) {
        return library.setAPCornerFrequency(library_port(portID), channel, disableHighPass);
    });
}

NP_ErrorCode NP_APIC setADCCalibration(int slotID, int portID, const char* filename) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "setADCCalibration");
    logging::log(1, "slotID : %d, portID : %d, filename : %s", slotID, portID,
                 filename ? filename : "(null)");
    if (!filename)
        return FAILED;
    return configure("setADCCalibration", [&](MURA_Controller_Library& library) {
        return library.setADCCalibration(library_port(portID), filename);
    });
}

NP_ErrorCode NP_APIC setGainCalibration(int slotID, int portID, int, const char* filename) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "setGainCalibration");
    logging::log(1, "slotID : %d, portID : %d", slotID, portID);
    if (!filename)
        return FAILED;
    return configure("setGainCalibration", [&](MURA_Controller_Library& library) {
        return library.setGainCalibration(library_port(portID), filename);
    });
}

NP_ErrorCode NP_APIC writeProbeConfiguration(int slotID, int portID, int dockID, bool readCheck) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "writeProbeConfiguration");
    logging::info("slotID : %d, portID : %d, dockID : %d, readcheck : %d", slotID, portID, dockID, readCheck);
    return configure("writeProbeConfiguration", [&](MURA_Controller_Library& library) {
        return library.writeProbeConfiguration(library_port(portID), readCheck);
    });
}

NP_ErrorCode NP_APIC setOPMODE(int slotID, int portID, int dockID, probe_opmode_t mode) {
    logging::info("opmode : %s, slotID : %d, portID : %d, dockID : %d", opmode_name(mode), slotID, portID,
                  dockID);
    return SUCCESS;
}

NP_ErrorCode NP_APIC probe_set_bist_mode(int portID, bool enable) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "probe_set_bist_mode");
    logging::log(1, "portID : %d, enable : %d", portID, enable);
    return guarded("probe_set_bist_mode", FAILED, [&] {
        MURA_Controller_Library* library = open_library("probe_set_bist_mode");
        if (!library)
            return FAILED;
        library->set_bist_signal_mode(library_port(portID), enable);
        return SUCCESS;
    });
}

NP_ErrorCode NP_APIC clear_all_electrode_to_bank_assignments(int, int portID) {
    return guarded("clear_all_electrode_to_bank_assignments", FAILED, [&] {
        MURA_Controller_Library* library = open_library("clear_all_electrode_to_bank_assignments");
        if (!library)
            return FAILED;
        library->clear_all_electrode_to_bank_assignments(library_port(portID));
        return SUCCESS;
    });
}

NP_ErrorCode NP_APIC readHSPN(int slotID, int portID, char* pn, size_t maxlen) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "readHSPN");
    logging::info("slotID : %d, portID : %d", slotID, portID);
    return guarded("readHSPN", FAILED, [&] {
        MURA_Controller_Library* library = open_library("readHSPN");
        if (!library || !pn || maxlen == 0)
            return FAILED;
        Adapter_State& s = state();
        if (slotID == TEST_PATH_SLOT) {
            library->probe_init_part_1(library_port(portID));
            s.i2c_comm_initialized = true;
        }
        for (uint32_t polls = 0; !s.i2c_comm_initialized; ++polls) {
            if (polls == I2C_INIT_POLL_LIMIT) {
                logging::error("readHSPN : no port has been opened within %d s (openPort first)",
                               I2C_INIT_POLL_LIMIT);
                return FAILED;
            }
            console::out("Waiting for I2C_comm_initialization\n");
            pause_for(I2C_INIT_POLL);
        }
        bool ok = false;
        {
            std::lock_guard lock(s.probe_access_mutex);
            ok = library->readHSPN(library_port(portID), pn, narrow_length(maxlen));
        }
        if (pn[0] != 'N') {
            logging::info("Invalid HS eeprom detected, defaulting to NP2_HS_30");
            bounded_copy(pn, maxlen, FALLBACK_HS_PART_NUMBER);
        }
        logging::info("Reporting HS part number : %s", pn);
        return result_of(ok);
    });
}

NP_ErrorCode NP_APIC readProbePN(int slotID, int portID, int dockID, char* pn, size_t maxlen) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "readProbePN");
    logging::info("slotID : %d, portID : %d, dockID : %d", slotID, portID, dockID);
    return guarded("readProbePN", FAILED, [&] {
        MURA_Controller_Library* library = open_library("readProbePN");
        if (!library || !pn || maxlen == 0)
            return FAILED;
        bool ok = false;
        {
            std::lock_guard lock(state().probe_access_mutex);
            ok = library->readProbePN(library_port(portID), pn, narrow_length(maxlen));
        }
        logging::info("Reporting probe part number : %s", pn);
        return result_of(ok);
    });
}

NP_ErrorCode NP_APIC readProbeSN(int slotID, int portID, int, uint64_t* id) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "readProbeSN");
    logging::info("slotID : %d, portID : %d", slotID, portID);
    return guarded("readProbeSN", FAILED, [&] {
        MURA_Controller_Library* library = open_library("readProbeSN");
        if (!library || !id)
            return FAILED;
        std::lock_guard lock(state().probe_access_mutex);
        return result_of(library->readProbeSN(library_port(portID), id));
    });
}

} // namespace Neuropixels
