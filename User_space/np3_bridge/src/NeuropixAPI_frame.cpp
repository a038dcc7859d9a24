// The frame every exported function shares: the process-wide adapter state, the converters
// handed to readers, the open library, the port check and the answer of unsupported calls.

#include "NeuropixAPI_frame.h"

namespace Selvan::MURA::api {

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
    [[maybe_unused]] static Main_Pump* abandoned_pump = nullptr;
    [[maybe_unused]] static std::shared_ptr<MURA_Controller_Library>* abandoned_library = nullptr;
    if (main_pump) {
        main_pump->flags->stop = true;
        for (int i = 0; i < 200 && !main_pump->flags->ended; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        main_pump->thread.detach();
        abandoned_pump = main_pump.release();
    }
    if (library)
        abandoned_library = new std::shared_ptr<MURA_Controller_Library>(std::move(library));
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

void route_sync(const std::function<void(npoe_adapter::C_Sync_Timeline::Routing&)>& change) {
    Adapter_State& s = state();
    std::lock_guard lock(s.converters_mutex);
    change(s.sync_routing);
    if (s.sync_timeline)
        s.sync_timeline->set_routing(s.sync_routing);
}

npoe_adapter::C_Sync_Timeline::Routing sync_routing() {
    Adapter_State& s = state();
    std::lock_guard lock(s.converters_mutex);
    return s.sync_routing;
}

std::shared_ptr<MURA_Controller_Library> current_library() {
    Adapter_State& s = state();
    std::lock_guard lock(s.library_mutex);
    return s.library;
}

std::shared_ptr<MURA_Controller_Library> open_library(const char* function) {
    std::shared_ptr<MURA_Controller_Library> library = current_library();
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
    logging::set_last_error_of_this_thread(std::string(function) + " : not supported by the MURA box");
    return Neuropixels::NOTSUPPORTED;
}

} // namespace Selvan::MURA::api
