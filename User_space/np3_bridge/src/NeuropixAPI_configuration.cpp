// Probe configuration and identification through the exported API: electrode, gain, reference
// and filter settings, calibration files, the shift-register upload, and the EEPROM reads.

#include "NeuropixAPI.h"

#include "Console.h"
#include "NeuropixAPI_frame.h"
#include "Pause.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace Selvan::MURA::api {
namespace {

constexpr std::chrono::milliseconds I2C_INIT_POLL{1000};
constexpr uint32_t I2C_INIT_POLL_LIMIT = 30;
constexpr int TEST_PATH_SLOT = 16;
constexpr const char* FALLBACK_HS_PART_NUMBER = "NP2_HS_30";

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
} // namespace
} // namespace Selvan::MURA::api

namespace Neuropixels {

using namespace Selvan::MURA;
using namespace Selvan::MURA::api;

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
