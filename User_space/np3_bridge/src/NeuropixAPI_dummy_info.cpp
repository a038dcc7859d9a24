// The answers that are fixed for the MURA box (versions, part and serial numbers of parts it
// does not have), the FPGA information calls of this adapter, and the error texts.

#include "NeuropixAPI.h"

#include "NeuropixAPI_frame.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace Neuropixels {

using namespace Selvan::MURA;
using namespace Selvan::MURA::api;

namespace {

// The versions are the settings file's (hosts may insist on particular numbers).
void fill_firmware_info(firmware_Info* info, const C_Adapter_Settings::Firmware_Version& version,
                        const char* name) {
    info->major = version.major;
    info->minor = version.minor;
    info->build = version.build;
    copy_text(info->name, sizeof info->name, name);
}

template <class... Outputs>
bool outputs_present(const char* function, Outputs*... outputs) {
    if (((outputs != nullptr) && ...))
        return true;
    logging::error("%s : null output argument, nothing written", function);
    return false;
}

// The identity of the parts the MURA box stands in for: a base-station connect board and a flex,
// both of version 1.0.
constexpr const char* BSC_PART_NUMBER = "MURA NA";
constexpr uint64_t BSC_SERIAL_NUMBER = 12345;
constexpr const char* FLEX_PART_NUMBER = "Selvan MURA Flex";

HardwareID fixed_hardware_id(uint64_t serial_number, const char* part_number) {
    HardwareID id{};
    id.version_Major = 1;
    id.version_Minor = 0;
    id.SerialNumber = serial_number;
    copy_text(id.ProductNumber, sizeof id.ProductNumber, part_number);
    return id;
}

} // namespace

NP_ErrorCode NP_APIC getBSCHardwareID(int slotID, struct HardwareID* pHwid) {
    MURA_LOG_SCOPE(1, "getBSCHardwareID");
    logging::log(1, "slotID : %d", slotID);
    if (!pHwid) {
        logging::error("getBSCHardwareID : null HardwareID, nothing written");
        return PARAMETER_INVALID;
    }
    *pHwid = fixed_hardware_id(BSC_SERIAL_NUMBER, BSC_PART_NUMBER);
    return SUCCESS;
}

// The box has no flex board: its identity stands for the cable of every port and dock.
NP_ErrorCode NP_APIC getFlexHardwareID(int slotID, int portID, int dockID, struct HardwareID* pHwid) {
    MURA_LOG_SCOPE(1, "getFlexHardwareID");
    logging::log(1, "slotID : %d, portID : %d, dockID : %d", slotID, portID, dockID);
    if (!pHwid) {
        logging::error("getFlexHardwareID : null HardwareID, nothing written");
        return PARAMETER_INVALID;
    }
    if (!valid_api_port(portID)) {
        logging::error("getFlexHardwareID : invalid portID %d (ports 1..4)", portID);
        return WRONG_PORT;
    }
    if (dockID != 0 && dockID != 1) {
        logging::error("getFlexHardwareID : invalid dockID %d (docks 0 and 1)", dockID);
        return WRONG_DOCK_ID;
    }
    *pHwid = fixed_hardware_id(0, FLEX_PART_NUMBER);
    return SUCCESS;
}

NP_ErrorCode NP_APIC bs_getFirmwareInfo(int slotID, struct firmware_Info* info) {
    MURA_LOG_SCOPE(1, "bs_getFirmwareInfo");
    logging::log(1, "%d", slotID);
    if (!outputs_present("bs_getFirmwareInfo", info))
        return FAILED;
    fill_firmware_info(info, C_Adapter_Settings::load(false).bs_firmware, "MURA 1.0");
    return SUCCESS;
}

NP_ErrorCode NP_APIC bsc_getFirmwareInfo(int slotID, struct firmware_Info* info) {
    MURA_LOG_SCOPE(1, "bsc_getFirmwareInfo");
    logging::log(1, "slotID : %d", slotID);
    if (!outputs_present("bsc_getFirmwareInfo", info))
        return FAILED;
    fill_firmware_info(info, C_Adapter_Settings::load(false).bsc_firmware, "MURA Firmware 1.0");
    return SUCCESS;
}

void NP_APIC getAPIVersion(int* version_major, int* version_minor) {
    MURA_LOG_SCOPE(1, "getAPIVersion");
    logging::log(1, "%d", 1);
    if (!outputs_present("getAPIVersion", version_major, version_minor))
        return;
    *version_major = 1;
    *version_minor = 0;
}

// The adapter's name and version, cut to the buffer; returns the whole text's length.
size_t NP_APIC getAPIVersionFull(char* buffer, size_t size) {
    MURA_LOG_SCOPE(1, "getAPIVersionFull");
    const std::string text = "np3_bridge " NP3_VERSION_TEXT " (Neuropixels API v3 for the MURA box)";
    copy_text(buffer, size, text.c_str());
    return text.size();
}

// The last ERROR line of the calling thread (its last failed call), cut to the buffer; returns
// the whole text's length, 0 when the thread has had no failure.
size_t NP_APIC getLastErrorMessage(char* bufStart, size_t bufsize) {
    const std::string text = logging::last_error_of_this_thread();
    copy_text(bufStart, bufsize, text.c_str());
    return text.size();
}

namespace {

NP_ErrorCode version_one_zero(const char* function, int* version_major, int* version_minor) {
    if (!outputs_present(function, version_major, version_minor))
        return FAILED;
    *version_major = 1;
    *version_minor = 0;
    return SUCCESS;
}

} // namespace

NP_ErrorCode NP_APIC getBSCVersion(int slotID, int* version_major, int* version_minor) {
    MURA_LOG_SCOPE(1, "getBSCVersion");
    logging::log(1, "slotID : %d", slotID);
    return version_one_zero("getBSCVersion", version_major, version_minor);
}

NP_ErrorCode NP_APIC getFlexVersion(int, int portID, int, int* version_major, int* version_minor) {
    MURA_LOG_SCOPE(1, "getFlexVersion");
    logging::log(1, "%d", portID);
    return version_one_zero("getFlexVersion", version_major, version_minor);
}

NP_ErrorCode NP_APIC getHSVersion(int, int portID, int* version_major, int* version_minor) {
    MURA_LOG_SCOPE(1, "getHSVersion");
    logging::log(1, "%d", portID);
    return version_one_zero("getHSVersion", version_major, version_minor);
}

NP_ErrorCode NP_APIC readBSCPN(int slotID, char* pn, size_t len) {
    MURA_LOG_SCOPE(1, "readBSCPN");
    logging::log(1, "slotID : %d", slotID);
    if (!outputs_present("readBSCPN", pn))
        return FAILED;
    copy_text(pn, len, BSC_PART_NUMBER);
    return SUCCESS;
}

NP_ErrorCode NP_APIC readBSCSN(int slotID, uint64_t* sn) {
    MURA_LOG_SCOPE(1, "readBSCSN");
    logging::log(1, "slotID : %d", slotID);
    if (!outputs_present("readBSCSN", sn))
        return FAILED;
    *sn = BSC_SERIAL_NUMBER;
    return SUCCESS;
}

NP_ErrorCode NP_APIC readFlexPN(int, int portID, int, char* pn, size_t maxlen) {
    MURA_LOG_SCOPE(1, "readFlexPN");
    logging::log(1, "%d", portID);
    if (!outputs_present("readFlexPN", pn))
        return FAILED;
    copy_text(pn, maxlen, FLEX_PART_NUMBER);
    return SUCCESS;
}

const char* NP_APIC getErrorMessage(NP_ErrorCode code) {
    switch (code) {
    case SUCCESS:
        return "SUCCESS";
    case FAILED:
        return "FAILED";
    case NOT_OPEN:
        return "NOT_OPEN";
    case IIC_ERROR:
        return "IIC_ERROR";
    case VERSION_MISMATCH:
        return "VERSION_MISMATCH";
    case PARAMETER_INVALID:
        return "PARAMETER_INVALID";
    case WRONG_PORT:
        return "WRONG_PORT";
    case WRONG_DOCK_ID:
        return "WRONG_DOCK_ID";
    case NO_LINK:
        return "NO_LINK";
    case NOTSUPPORTED:
        return "NOTSUPPORTED";
    case NOTIMPLEMENTED:
        return "NOTIMPLEMENTED";
    case IO_ERROR:
        return "IO_ERROR";
    default:
        return "error code not used by this adapter";
    }
}

// --- FPGA information of the MURA box ---

float NP_APIC bs_get_fpga_temperature_celcius() {
    float temperature = std::numeric_limits<float>::quiet_NaN();
    guarded("bs_get_fpga_temperature_celcius", FAILED, [&] {
        if (const auto library = open_library("bs_get_fpga_temperature_celcius"))
            temperature = library->get_fpga_temperature();
        return SUCCESS;
    });
    return temperature;
}

namespace {

// The texts live in the calling thread's own storage until it calls the same function again.
const char* fpga_text(const char* function, std::string& storage,
                      std::string (MURA_Controller_Library::*getter)() const) {
    storage.clear();
    guarded(function, FAILED, [&] {
        if (const auto library = open_library(function))
            storage = ((*library).*getter)();
        return SUCCESS;
    });
    return storage.c_str();
}

} // namespace

const char* NP_APIC bs_get_fpga_design_label() {
    thread_local std::string label;
    return fpga_text("bs_get_fpga_design_label", label,
                     &MURA_Controller_Library::get_design_identifier_from_fpga);
}

const char* NP_APIC bs_get_fpga_design_build_date() {
    thread_local std::string date;
    return fpga_text("bs_get_fpga_design_build_date", date, &MURA_Controller_Library::get_design_build_date);
}

NP_ErrorCode NP_APIC get_available_port_capability(int, uint8_t* count) {
    const auto library = open_library("get_available_port_capability");
    if (!library || !outputs_present("get_available_port_capability", count))
        return FAILED;
    *count = library->get_np_port_count_from_fpga_signature();
    return SUCCESS;
}

} // namespace Neuropixels
