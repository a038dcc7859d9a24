// The API's built-in self tests: each forwards to the controller library's test of the port.

#include "NeuropixAPI.h"

#include "NeuropixAPI_frame.h"

namespace Neuropixels {

using namespace Selvan::MURA;
using namespace Selvan::MURA::api;

namespace {

// A test that fails answers its own code, with an ERROR line saying which test failed where.
template <class Test>
NP_ErrorCode run_test(const char* function, int port, NP_ErrorCode failure, Test&& test) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, function);
    return guarded(function, FAILED, [&]() -> NP_ErrorCode {
        if (port != 0 && !valid_api_port(port)) {
            logging::error("%s : port %d is no port of the box (1 to 4)", function, port);
            return WRONG_PORT;
        }
        const auto library = open_library(function);
        if (!library)
            return NOT_OPEN;
        if (test(*library))
            return SUCCESS;
        logging::error("%s : the self test failed on port %d", function, port);
        return failure;
    });
}

} // namespace

NP_ErrorCode NP_APIC bistBS(int) {
    return run_test("bistBS", 0, NOT_OPEN, [](MURA_Controller_Library&) { return true; });
}

NP_ErrorCode NP_APIC bistHB(int, int portID, int) {
    return run_test("bistHB", portID, NO_LOCK,
                    [&](MURA_Controller_Library& library) { return library.bist_HB(library_port(portID)); });
}

NP_ErrorCode NP_APIC bistEEPROM(int, int portID) {
    return run_test("bistEEPROM", portID, IIC_ERROR, [&](MURA_Controller_Library& library) {
        return library.bist_Eeproms(library_port(portID));
    });
}

NP_ErrorCode NP_APIC bistI2CMM(int, int portID, int) {
    return run_test("bistI2CMM", portID, IIC_ERROR,
                    [&](MURA_Controller_Library& library) { return library.bist_IIC(library_port(portID)); });
}

NP_ErrorCode NP_APIC bistSR(int, int portID, int) {
    return run_test("bistSR", portID, ERROR_SR_CHAIN_1, [&](MURA_Controller_Library& library) {
        return library.bist_Probe_SR(library_port(portID));
    });
}

NP_ErrorCode NP_APIC bistPSB(int, int portID, int) {
    return run_test("bistPSB", portID, BIST_ERROR,
                    [&](MURA_Controller_Library& library) { return library.bist_PSB(library_port(portID)); });
}

// The probe's test signal (1.2 kHz) must be every channel's strongest frequency.
NP_ErrorCode NP_APIC bistSignal(int, int portID, int) {
    return run_test("bistSignal", portID, BIST_ERROR, [&](MURA_Controller_Library& library) {
        return library.bist_Signal(library_port(portID));
    });
}

NP_ErrorCode NP_APIC bistStartPRBS(int, int portID) {
    return run_test("bistStartPRBS", portID, BIST_ERROR, [&](MURA_Controller_Library& library) {
        return library.bist_start_PBRS(library_port(portID));
    });
}

// The link's PRBS errors are the test's result: SUCCESS with their count.
NP_ErrorCode NP_APIC bistStopPRBS(int, int portID, int* prbs_err) {
    return run_test("bistStopPRBS", portID, BIST_ERROR, [&](MURA_Controller_Library& library) {
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
