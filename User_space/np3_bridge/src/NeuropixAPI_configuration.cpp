// Probe configuration through the exported API: electrode, gain, reference and filter settings,
// calibration files, the shift-register upload, the operating and test modes.

#include "NeuropixAPI.h"

#include "Console.h"
#include "NeuropixAPI_frame.h"

#include <algorithm>
#include <cstring>

namespace Neuropixels {

using namespace Selvan::MURA;
using namespace Selvan::MURA::api;

// ---------------------------------------------------------------------------------------------
// Probe configuration
// ---------------------------------------------------------------------------------------------

namespace {

// A configuration call: open library, 0-based port, bool result mapped to 0 / 1.
template <class Call>
NP_ErrorCode configure(const char* function, Call&& call) {
    return guarded(function, FAILED, [&] {
        const auto library = open_library(function);
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

// The channel's standby bit of the base configuration (uploaded by writeProbeConfiguration).
NP_ErrorCode NP_APIC setStdb(int slotID, int portID, int dockID, int channel, bool standby) {
    MURA_LOG_SCOPE(1, "setStdb");
    logging::log(1, "slotID : %d, portID : %d, dockID : %d, channel : %d, standby : %d", slotID, portID,
                 dockID, channel, standby);
    if (!valid_api_port(portID)) {
        logging::error("setStdb : port %d is no port of the box (1 to 4)", portID);
        return WRONG_PORT;
    }
    if (channel < 0 || channel >= NP1_PROBE_CHANNEL_COUNT) {
        logging::error("setStdb : channel %d is no channel of the probe (0 to 383)", channel);
        return WRONG_CHANNEL;
    }
    return configure("setStdb", [&](MURA_Controller_Library& library) {
        return library.setStdb(library_port(portID), channel, standby);
    });
}

NP_ErrorCode NP_APIC setADCCalibration(int slotID, int portID, const char* filename) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "setADCCalibration");
    logging::log(1, "slotID : %d, portID : %d, filename : %s", slotID, portID,
                 filename ? filename : "(null)");
    if (!filename) {
        logging::error("setADCCalibration : no file name");
        return FAILED;
    }
    return configure("setADCCalibration", [&](MURA_Controller_Library& library) {
        return library.setADCCalibration(library_port(portID), filename);
    });
}

NP_ErrorCode NP_APIC setGainCalibration(int slotID, int portID, int, const char* filename) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "setGainCalibration");
    logging::log(1, "slotID : %d, portID : %d", slotID, portID);
    if (!filename) {
        logging::error("setGainCalibration : no file name");
        return FAILED;
    }
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
        const auto library = open_library("probe_set_bist_mode");
        if (!library)
            return FAILED;
        library->set_bist_signal_mode(library_port(portID), enable);
        return SUCCESS;
    });
}

NP_ErrorCode NP_APIC clear_all_electrode_to_bank_assignments(int, int portID) {
    return guarded("clear_all_electrode_to_bank_assignments", FAILED, [&] {
        const auto library = open_library("clear_all_electrode_to_bank_assignments");
        if (!library)
            return FAILED;
        library->clear_all_electrode_to_bank_assignments(library_port(portID));
        return SUCCESS;
    });
}

} // namespace Neuropixels
