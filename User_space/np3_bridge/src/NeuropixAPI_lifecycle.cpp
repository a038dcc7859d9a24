// The basestation lifecycle through the exported API: the device list, opening the box with
// its converters and data path, the ports and probes, and closing it again.

#include "NeuropixAPI.h"

#include "Console.h"
#include "NeuropixAPI_frame.h"

#include <fstream>
#include <optional>
#include <string>

namespace Selvan::MURA::api {
namespace {

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

} // namespace
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

} // namespace Neuropixels
