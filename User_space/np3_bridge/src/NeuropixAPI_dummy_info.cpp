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

void copy_text(char* destination, size_t size, const char* text) {
    if (!destination || size == 0)
        return;
    const size_t count = std::min(std::strlen(text), size - 1);
    std::memcpy(destination, text, count);
    destination[count] = '\0';
}

void fill_firmware_info(firmware_Info* info, const char* name) {
    info->major = 2;
    info->minor = 0;
    info->build = 1;
    copy_text(info->name, sizeof info->name, name);
}

template <class... Outputs>
bool outputs_present(const char* function, Outputs*... outputs) {
    if (((outputs != nullptr) && ...))
        return true;
    logging::error("%s : null output argument, nothing written", function);
    return false;
}

} // namespace

NP_ErrorCode NP_APIC bs_getFirmwareInfo(int slotID, struct firmware_Info* info) {
    MURA_LOG_SCOPE(1, "bs_getFirmwareInfo");
    logging::log(1, "%d", slotID);
    if (!outputs_present("bs_getFirmwareInfo", info))
        return FAILED;
    fill_firmware_info(info, "MURA 1.0");
    return SUCCESS;
}

NP_ErrorCode NP_APIC bsc_getFirmwareInfo(int slotID, struct firmware_Info* info) {
    MURA_LOG_SCOPE(1, "bsc_getFirmwareInfo");
    logging::log(1, "slotID : %d", slotID);
    if (!outputs_present("bsc_getFirmwareInfo", info))
        return FAILED;
    fill_firmware_info(info, "MURA Firmware 1.0");
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
    copy_text(pn, len, "MURA NA");
    return SUCCESS;
}

NP_ErrorCode NP_APIC readBSCSN(int slotID, uint64_t* sn) {
    MURA_LOG_SCOPE(1, "readBSCSN");
    logging::log(1, "slotID : %d", slotID);
    if (!outputs_present("readBSCSN", sn))
        return FAILED;
    *sn = 12345;
    return SUCCESS;
}

NP_ErrorCode NP_APIC readFlexPN(int, int portID, int, char* pn, size_t maxlen) {
    MURA_LOG_SCOPE(1, "readFlexPN");
    logging::log(1, "%d", portID);
    if (!outputs_present("readFlexPN", pn))
        return FAILED;
    copy_text(pn, maxlen, "Selvan MURA Flex");
    return SUCCESS;
}

const char* NP_APIC getErrorMessage(NP_ErrorCode code) {
    switch (code) {
    case SUCCESS:
        return "SUCCESS";
    case FAILED:
        return "FAILED";
    case VERSION_MISMATCH:
        return "VERSION_MISMATCH";
    case NOTSUPPORTED:
        return "NOTSUPPORTED";
    case NOTIMPLEMENTED:
        return "NOTIMPLEMENTED";
    default:
        return "error code not used by this adapter";
    }
}

// --- FPGA information of the MURA box ---

float NP_APIC bs_get_fpga_temperature_celcius() {
    float temperature = std::numeric_limits<float>::quiet_NaN();
    guarded("bs_get_fpga_temperature_celcius", FAILED, [&] {
        if (MURA_Controller_Library* library = open_library("bs_get_fpga_temperature_celcius"))
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
        if (MURA_Controller_Library* library = open_library(function))
            storage = (library->*getter)();
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
    MURA_Controller_Library* library = open_library("get_available_port_capability");
    if (!library || !outputs_present("get_available_port_capability", count))
        return FAILED;
    *count = library->get_np_port_count_from_fpga_signature();
    return SUCCESS;
}

} // namespace Neuropixels
