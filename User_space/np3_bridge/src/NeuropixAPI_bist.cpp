// The API's built-in self tests: each forwards to the controller library's test of the port.

#include "NeuropixAPI.h"

#include "NeuropixAPI_frame.h"

namespace Neuropixels {

using namespace Selvan::MURA;
using namespace Selvan::MURA::api;

namespace {

template <class Test>
NP_ErrorCode run_test(const char* function, Test&& test) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, function);
    return guarded(function, FAILED, [&] {
        const auto library = open_library(function);
        return library ? result_of(test(*library)) : FAILED;
    });
}

} // namespace

NP_ErrorCode NP_APIC bistBS(int) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "bistBS");
    return result_of(current_library() != nullptr);
}

NP_ErrorCode NP_APIC bistHB(int, int portID, int) {
    return run_test("bistHB",
                    [&](MURA_Controller_Library& library) { return library.bist_HB(library_port(portID)); });
}

NP_ErrorCode NP_APIC bistEEPROM(int, int portID) {
    return run_test("bistEEPROM", [&](MURA_Controller_Library& library) {
        return library.bist_Eeproms(library_port(portID));
    });
}

NP_ErrorCode NP_APIC bistI2CMM(int, int portID, int) {
    return run_test("bistI2CMM",
                    [&](MURA_Controller_Library& library) { return library.bist_IIC(library_port(portID)); });
}

NP_ErrorCode NP_APIC bistSR(int, int portID, int) {
    return run_test("bistSR", [&](MURA_Controller_Library& library) {
        return library.bist_Probe_SR(library_port(portID));
    });
}

NP_ErrorCode NP_APIC bistPSB(int, int portID, int) {
    return run_test("bistPSB",
                    [&](MURA_Controller_Library& library) { return library.bist_PSB(library_port(portID)); });
}

NP_ErrorCode NP_APIC bistStartPRBS(int, int portID) {
    return run_test("bistStartPRBS", [&](MURA_Controller_Library& library) {
        return library.bist_start_PBRS(library_port(portID));
    });
}

NP_ErrorCode NP_APIC bistStopPRBS(int, int portID, int* prbs_err) {
    return run_test("bistStopPRBS", [&](MURA_Controller_Library& library) {
        unsigned errors = 0xFFFFFFFF;
        bool stopped = false;
        try {
            stopped = library.bist_stop_PBRS(library_port(portID), errors);
        } catch (...) {
            if (prbs_err)
                *prbs_err = static_cast<int>(errors);
            throw;
        }
        if (prbs_err)
            *prbs_err = static_cast<int>(errors);
        return stopped;
    });
}

} // namespace Neuropixels
