// The basestation lifecycle through the exported API: the device list, opening the box (the
// real one, the simulation or the virtual box) with its converters and data path, the ports
// and probes, and closing it again.

#include "NeuropixAPI.h"

#include "C_Virtual_Box.h"
#include "Console.h"
#include "NeuropixAPI_frame.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace Selvan::MURA::api {
namespace {

// How long closeBS and openBS give a call that still holds the library (a configuration call
// racing them) to finish before they let go of it.
constexpr std::chrono::seconds LIBRARY_RELEASE_WAIT{5};

// The virtual box, or null after an ERROR line.
std::shared_ptr<MURA_Controller_Library> make_virtual_box_library(const C_Adapter_Settings& settings) {
    C_Virtual_Box::Options options{settings.virtual_recording, settings.virtual_speed,
                                   settings.virtual_content,   settings.virtual_sync_hz,
                                   settings.sync_input_line,   settings.virtual_faults};
    if (!options.recording.empty() && !std::ifstream(options.recording, std::ios::binary)) {
        logging::error("virtual_recording %s cannot be read; the virtual box synthesizes its stream",
                       options.recording);
        options.recording.clear();
    }
    std::shared_ptr<A_MURA_Controller> controller = C_Virtual_Box::open_controller(options);
    if (!controller)
        return nullptr;
    return std::make_shared<MURA_Controller_Library>(std::move(controller), false);
}

std::shared_ptr<MURA_Controller_Library> make_library(const C_Adapter_Settings& settings) {
    const bool simulation = read_marker_file(SIMULATION_MARKER).has_value();
    const bool virtual_box = settings.device == C_Adapter_Settings::Device::virtual_box;
    if (simulation && virtual_box)
        logging::warning("%s is present: simulation mode is used, not the virtual box of %s",
                         SIMULATION_MARKER, C_Adapter_Settings::FILE_NAME);
    if (virtual_box && !simulation)
        return make_virtual_box_library(settings);
    return std::make_shared<MURA_Controller_Library>(simulation);
}

// Lets go of a library that calls may still hold for a moment; the device closes when the last
// of them ends. A pump left running on it (it did not stop) is not waited for.
void release_library(std::shared_ptr<MURA_Controller_Library> library) {
    Adapter_State& s = state();
    if (!library)
        return;
    const bool held_by_stuck_pump =
        s.stuck_pump_flags && !s.stuck_pump_flags->ended && s.stuck_pump_library.lock() == library;
    const auto deadline = std::chrono::steady_clock::now() + LIBRARY_RELEASE_WAIT;
    const long expected_holders = held_by_stuck_pump ? 2 : 1;
    while (library.use_count() > expected_holders && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (library.use_count() > 1)
        logging::warning("The basestation is still in use by another call; it closes when that call ends");
}

void install_library(std::shared_ptr<MURA_Controller_Library> library) {
    Adapter_State& s = state();
    std::lock_guard lock(s.library_mutex);
    s.library = std::move(library);
}

std::shared_ptr<MURA_Controller_Library> take_library() {
    Adapter_State& s = state();
    std::lock_guard lock(s.library_mutex);
    return std::exchange(s.library, nullptr);
}

void forget_ports() {
    for (auto& link_up : state().port_link_up)
        link_up = false;
}

// Each failing step of openBS says what failed; the host only sees the code.
NP_ErrorCode open_failed(const char* why) {
    logging::error("openBS : %s", why);
    return Neuropixels::VERSION_MISMATCH;
}

NP_ErrorCode open_basestation(int slot_id) {
    Adapter_State& s = state();
    logging::info("slotID : %d", slot_id);
    std::shared_ptr<MURA_Controller_Library> previous = current_library();
    if (previous)
        logging::info("Warning re initalizing library. slotID : %d", slot_id);
    // A pump still running would keep using the library that is about to be replaced.
    if (s.main_pump) {
        logging::warning("openBS : acquisition is still running; stopping it first");
        previous->disable_streaming();
        stop_pump_thread(slot_id, false);
        s.acquisition_started = false;
    }
    const C_Adapter_Settings settings = C_Adapter_Settings::load(true);
    forget_ports();
    s.armed = false;
    s.data_path_used = false;
    std::shared_ptr<MURA_Controller_Library> library = make_library(settings);
    take_library();
    release_library(std::move(previous));
    if (!library)
        return open_failed("the device could not be created");
    install_library(library);
    s.closed_after_open = false;
    s.stream_failed = false;
    if (!library->open())
        return open_failed("the device does not open");
    if (!library->check_and_switch_firmware_if_nec(true))
        return open_failed("the FPGA design could not be checked or switched");
    if (!library->pre_init(true))
        return open_failed("the ports could not be powered up");
    {
        std::lock_guard lock(s.converters_mutex);
        s.sync_routing.input_line = static_cast<uint32_t>(settings.sync_input_line);
    }
    install_converters(*library);
    if (!settings.raw_capture.empty() && !library->is_in_simulation_mode())
        library->set_raw_capture(settings.raw_capture);
    if (library->is_in_simulation_mode()) {
        const auto source = read_marker_file(SIMULATION_MARKER);
        if (!source)
            return open_failed("the simulation marker names no readable recording");
        if (!library->prepare_for_simulation_streaming(*source))
            return open_failed("the simulation recording could not be opened");
    } else {
        library->prepare_for_streaming();
    }
    logging::info("Converter data structures prepared (%d)", slot_id);
    return Neuropixels::SUCCESS;
}

NP_ErrorCode close_basestation(int slot_id) {
    Adapter_State& s = state();
    // Hosts close once per probe and once more: closing what is closed does nothing.
    if (s.closed_after_open && !current_library()) {
        logging::info("closeBS : the basestation is closed already");
        return Neuropixels::SUCCESS;
    }
    std::shared_ptr<MURA_Controller_Library> library = open_library("closeBS");
    if (!library)
        return Neuropixels::FAILED;
    // A run ends as a stop ends it: what the box sent stays readable until the next openBS.
    if (s.acquisition_started) {
        stop_acquisition_locked(slot_id);
    } else {
        library->disable_streaming();
        stop_pump_thread(slot_id, false);
    }
    // With the pump gone, a later openBS and start_acquisition start afresh.
    s.acquisition_started = false;
    s.armed = false;
    forget_ports();
    take_library();
    release_library(std::move(library));
    s.closed_after_open = true;
    return Neuropixels::SUCCESS;
}

} // namespace

// Each port's converter feeds its queue through the port's gain filter; the previous
// converters' readers are released before the converters are let go.
void install_converters(MURA_Controller_Library& library) {
    Adapter_State& s = state();
    std::shared_ptr<npoe_adapter::C_Sync_Timeline> timeline;
    {
        std::lock_guard lock(s.converters_mutex);
        timeline = std::make_shared<npoe_adapter::C_Sync_Timeline>(s.sync_routing);
    }
    std::array<std::shared_ptr<NP_Converter>, API_PORT_COUNT> np_converters;
    for (auto& converter : np_converters)
        converter = std::make_shared<NP_Converter>(timeline);
    auto rhd = std::make_shared<RHD_Converter>(timeline);
    {
        std::lock_guard lock(s.converters_mutex);
        if (s.sync_timeline)
            s.sync_timeline->end();
        s.sync_timeline = timeline;
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

} // namespace Selvan::MURA::api

namespace Neuropixels {

using namespace Selvan::MURA;
using namespace Selvan::MURA::api;

// ---------------------------------------------------------------------------------------------
// Basestation lifecycle
// ---------------------------------------------------------------------------------------------

namespace {

// The box's basestation ID, and its slot: a PXI chassis numbers its module slots from 2 (hosts
// look for base stations in slots 2 to 18), the other platforms from 0. Slot 0 stays an alias
// of the box for hosts and tools written for a one-slot adapter.
constexpr int BOX_ID = 1;

int slot_of_box(NPPlatformID_t platform) {
    return platform == NPPlatform_PXI ? 2 : 0;
}

bool slot_holds_box(int slot, NPPlatformID_t platform) {
    return slot == slot_of_box(platform) || slot == 0;
}

} // namespace

int NP_APIC getDeviceList(struct basestationID* list, int count) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "getDeviceList");
    logging::info("count : %d", count);
    std::call_once(state().log_file_added, [] { logging::add_file(LOG_FILE_NAME, logging::Verbosity_MAX); });
    if (list && count >= 1)
        *list = {C_Adapter_Settings::load(false).platform, BOX_ID};
    return 1;
}

NP_ErrorCode NP_APIC getDeviceInfo(int slotID, struct basestationID* info) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "getDeviceInfo");
    logging::info("slotID : %d", slotID);
    const NPPlatformID_t platform = C_Adapter_Settings::load(false).platform;
    if (!slot_holds_box(slotID, platform)) {
        logging::error("getDeviceInfo : slot %d holds no basestation", slotID);
        return NO_SLOT;
    }
    if (info)
        *info = {platform, BOX_ID};
    return SUCCESS;
}

bool NP_APIC tryGetSlotID(const basestationID* bsid, int* slotID) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "tryGetSlotID");
    if (!bsid || !slotID || bsid->ID != BOX_ID) {
        logging::error("tryGetSlotID : no basestation has the ID %d", bsid ? bsid->ID : -1);
        return false;
    }
    *slotID = slot_of_box(C_Adapter_Settings::load(false).platform);
    logging::log(1, "%d", *slotID);
    return true;
}

NP_ErrorCode NP_APIC openBS(int slotID) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "openBS");
    return guarded("openBS", VERSION_MISMATCH, [&] {
        std::lock_guard lock(state().control_mutex);
        return open_basestation(slotID);
    });
}

NP_ErrorCode NP_APIC openPort(int slotID, int portID) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "openPort");
    logging::info("slotID : %d, portID : %d", slotID, portID);
    return guarded("openPort", FAILED, [&] {
        const auto library = open_library("openPort");
        if (!library)
            return FAILED;
        Adapter_State& s = state();
        bool ok = false;
        {
            std::lock_guard lock(s.probe_access_mutex);
            ok = library->probe_init_part_1(library_port(portID));
            if (ok && valid_api_port(portID))
                s.port_link_up[static_cast<size_t>(portID - 1)] = true;
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
        const auto library = open_library("init");
        if (!library)
            return FAILED;
        int config = INIT_STANDARD;
        if (const auto line = read_marker_file(INIT_MODE_MARKER))
            config = init_config_from_line(*line, INIT_STANDARD);
        logging::info("Using init config : %d", config);
        return result_of(
            library->probe_init_part_2(library_port(portID), static_cast<E_MURA_Init_Config>(config)));
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
        std::lock_guard lock(state().control_mutex);
        return close_basestation(slotID);
    });
}

} // namespace Neuropixels
