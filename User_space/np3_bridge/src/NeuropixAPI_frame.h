#pragma once

// What every exported function of the adapter shares: the process-wide adapter state, the log
// scope and argument line, the result mapping, and the guard that keeps exceptions inside the
// library. Internal to np3_bridge.

#include "C_Adapter_Settings.h"
#include "C_MT_NP_PXI_Queue.h"
#include "C_MT_RHD_PXI_Queue.h"
#include "C_MURA_Controller_Library.h"
#include "C_Sync_Timeline.h"
#include "Log.h"
#include "Marker_Files.h"
#include "NeuropixAPI.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace Selvan::MURA::api {

using Neuropixels::NP_ErrorCode;
using NP_Converter = npoe_adapter::L2_CH_Results_NP_PXI_Format_Converter;
using RHD_Converter = npoe_adapter::RHD_to_PXI_ADC_Format_Converter;

constexpr int API_PORT_COUNT = 4;
constexpr const char* LOG_FILE_NAME = "MURA.log";

// The main pump thread and what it shares with its owner. The thread holds its own reference
// to the library it pumps and to these flags, so that a pump that does not stop within its
// limit can be let go with everything it uses, and nothing is destroyed under it.
struct Pump_Flags {
    std::atomic<bool> stop{false};
    // Set once the pump reads no more; what the thread does after it (its last lines, a
    // failure report) is brief, so a stop from then on joins it without waiting lines.
    std::atomic<bool> reading_over{false};
    std::atomic<bool> ended{false};
};

struct Main_Pump {
    std::thread thread;
    std::shared_ptr<Pump_Flags> flags;
    std::shared_ptr<MURA_Controller_Library> library;
};

// The adapter's process-wide state. Exported calls may come from any host thread. The library
// is handed to calls as an owned snapshot taken under a lock, so that openBS or closeBS
// replacing it never frees it under a call that is still using it; the converters are handed
// to readers the same way. The transitions of the box (open, close, start, stop, arm, trigger)
// run one at a time under the control lock.
struct Adapter_State {
    ~Adapter_State();

    std::mutex library_mutex;
    std::shared_ptr<MURA_Controller_Library> library;

    std::mutex control_mutex;
    std::unique_ptr<Main_Pump> main_pump;
    // A pump let go because it did not stop: a new start on its library must wait for it.
    std::shared_ptr<Pump_Flags> stuck_pump_flags;
    std::weak_ptr<MURA_Controller_Library> stuck_pump_library;
    // Set by arm, cleared by the trigger that starts acquisition (or by start_acquisition).
    bool armed = false;
    // A run has gone through the data path since it was last renewed.
    bool data_path_used = false;
    // closeBS has closed what openBS opened (a further closeBS has nothing to do).
    bool closed_after_open = false;
    // The hardware stream failed during the current run: reads that find nothing answer
    // IO_ERROR until the next start or openBS.
    std::atomic<bool> stream_failed{false};

    std::mutex converters_mutex;
    std::array<std::shared_ptr<NP_Converter>, API_PORT_COUNT> np_converters;
    std::shared_ptr<RHD_Converter> rhd_converter;
    // How the host routed the sync signal into the status words, and the timeline of the
    // current converters that applies it (both under the converters' lock).
    npoe_adapter::C_Sync_Timeline::Routing sync_routing;
    std::shared_ptr<npoe_adapter::C_Sync_Timeline> sync_timeline;
    // What a host routed to the acquisition trigger and on which edge (remembered and reported;
    // the software trigger starts acquisition on an armed slot whatever the routing).
    std::atomic<Neuropixels::switchmatrixinput_t> trigger_input{Neuropixels::SM_Input_SWTrigger1};
    std::atomic<Neuropixels::triggeredge_t> trigger_edge{Neuropixels::triggeredge_rising};

    std::atomic<bool> acquisition_started{false};
    std::atomic<bool> i2c_comm_initialized{false};
    // Ports whose headstage link has been brought up since openBS (openPort, or a call that
    // needed the link and brought it up itself).
    std::array<std::atomic<bool>, API_PORT_COUNT> port_link_up{};
    std::mutex probe_access_mutex;
    std::once_flag log_file_added;

    // Throughput report of readElectrodeData: calls per port, packets per port since the last
    // report, one time point shared by all ports.
    std::array<std::atomic<uint8_t>, API_PORT_COUNT> transfer_report_counter{};
    std::array<std::atomic<uint64_t>, API_PORT_COUNT> packets_since_report{};
    std::mutex transfer_report_mutex;
    std::chrono::steady_clock::time_point transfer_report_time{};
};

Adapter_State& state();

std::shared_ptr<NP_Converter> np_converter(int api_port);
std::shared_ptr<RHD_Converter> rhd_converter();
// Changes the sync routing, for the running data path and the ones after it.
void route_sync(const std::function<void(npoe_adapter::C_Sync_Timeline::Routing&)>& change);
npoe_adapter::C_Sync_Timeline::Routing sync_routing();

// The open library as an owned snapshot, or null after an ERROR line naming the function:
// most calls need openBS.
std::shared_ptr<MURA_Controller_Library> open_library(const char* function);
// The same without the line, for calls that also work without an open box.
std::shared_ptr<MURA_Controller_Library> current_library();

inline NP_ErrorCode result_of(bool ok) {
    return ok ? Neuropixels::SUCCESS : Neuropixels::FAILED;
}

bool valid_api_port(int port_id);

// Copies as much of `text` as fits into `size` bytes and always terminates.
inline void copy_text(char* destination, size_t size, const char* text) {
    if (!destination || size == 0)
        return;
    const size_t count = std::min(std::strlen(text), size - 1);
    std::memcpy(destination, text, count);
    destination[count] = '\0';
}

// API ports count from 1, the library's from 0.
inline uint32_t library_port(int port_id) {
    return static_cast<uint32_t>(port_id - 1);
}

// Runs `body` and turns any exception into an ERROR line and `failure`: no exception may reach
// the host.
template <class Body>
NP_ErrorCode guarded(const char* function, NP_ErrorCode failure, Body&& body) {
    try {
        return body();
    } catch (const std::exception& e) {
        logging::error("%s : exception caught : %s", function, e.what());
    } catch (...) {
        logging::error("%s : unknown exception caught", function);
    }
    return failure;
}

// Functions of the published API that the MURA box cannot do.
NP_ErrorCode not_supported(const char* function);

// Stops and joins the pump thread if one exists; waits for it to end (bounded), and lets it go
// with its library when it does not (then false). The caller holds the control lock.
bool stop_pump_thread(int slot_id, bool log_waits);
// How long stop_pump_thread waits (tests shorten it).
MURA_EXPORT void set_pump_stop_timeout(std::chrono::milliseconds timeout);

// A read that copied nothing because the device stream failed (it answers IO_ERROR).
bool nothing_copied_from_failed_stream(int copied);

// Fresh converters for every port and the RHD frames, fed through the gain filters; reads of
// the previous ones find nothing from then on.
void install_converters(MURA_Controller_Library& library);

// Stops a running acquisition: the pump's last read, the streams off, and every whole super
// frame read delivered to the converters before it returns. The caller holds the control lock.
void stop_acquisition_locked(int slot_id);

// arm: stops a running acquisition and prepares a clean next run. The caller holds the control
// lock.
NP_ErrorCode arm_locked(int slot_id);

// Brings the port's headstage link up (probe bring-up step 1) unless it is up already. The
// caller holds the probe access lock.
bool ensure_port_link(MURA_Controller_Library& library, int port_id);

} // namespace Selvan::MURA::api
