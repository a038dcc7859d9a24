#pragma once

// What every exported function of the adapter shares: the process-wide adapter state, the log
// scope and argument line, the result mapping, and the guard that keeps exceptions inside the
// library. Internal to np3_bridge.

#include "C_MT_NP_PXI_Queue.h"
#include "C_MT_RHD_PXI_Queue.h"
#include "C_MURA_Controller_Library.h"
#include "Log.h"
#include "NeuropixAPI.h"

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace Selvan::MURA::api {

using Neuropixels::NP_ErrorCode;
using NP_Converter = npoe_adapter::L2_CH_Results_NP_PXI_Format_Converter;
using RHD_Converter = npoe_adapter::RHD_to_PXI_ADC_Format_Converter;

constexpr int API_PORT_COUNT = 4;
constexpr const char* SIMULATION_MARKER = "MURA_NPAPI_ADAPTER_SIM";
constexpr const char* INIT_MODE_MARKER = "MURA_NP_INIT_MODE";
constexpr const char* LOG_FILE_NAME = "MURA.log";

// The adapter's process-wide state. Exported calls may come from any host thread; the flags
// shared with the pump thread and the readers are atomics, and the converters are handed to
// readers as shared references taken under a lock, so a reader keeps its converter for the
// whole call even when openBS replaces it.
struct Adapter_State {
    ~Adapter_State();

    std::unique_ptr<MURA_Controller_Library> library;
    std::mutex converters_mutex;
    std::array<std::shared_ptr<NP_Converter>, API_PORT_COUNT> np_converters;
    std::shared_ptr<RHD_Converter> rhd_converter;
    std::unique_ptr<std::thread> main_pump_thread;
    std::atomic<bool> acquisition_started{false};
    std::atomic<bool> stop_main_pump{false};
    std::atomic<bool> main_pump_ended{false};
    std::atomic<bool> i2c_comm_initialized{false};
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

// The open library, or null after an ERROR line naming the function: most calls need openBS.
MURA_Controller_Library* open_library(const char* function);

inline NP_ErrorCode result_of(bool ok) {
    return ok ? Neuropixels::SUCCESS : Neuropixels::FAILED;
}

bool valid_api_port(int port_id);

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

// Stops and joins the pump thread if one exists; waits for it to end (bounded).
void stop_pump_thread(int slot_id, bool log_waits);

// Makes every reader of the current converters return at once, now and later.
void signal_exit_to_readers();

} // namespace Selvan::MURA::api
