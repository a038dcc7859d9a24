// Identification through the exported API: which ports have a headstage, and what the
// headstage and probe EEPROMs say (part numbers, serial number, versions), in the older text
// calls and in the HardwareID records hosts match against known parts. A call that needs a
// port's headstage link brings it up itself when no openPort came first.

#include "NeuropixAPI.h"

#include "NeuropixAPI_frame.h"

#include <climits>

namespace Selvan::MURA::api {
namespace {

// Slot 16 is the test path: readHSPN brings the port up again even when it is up.
constexpr int TEST_PATH_SLOT = 16;
constexpr const char* FALLBACK_HS_PART_NUMBER = "NP2_HS_30";

uint32_t narrow_length(size_t length) {
    return static_cast<uint32_t>(std::min<size_t>(length, UINT32_MAX));
}

bool text_buffer_usable(const char* function, char* text, size_t length) {
    if (text && length > 0) {
        text[0] = '\0';
        return true;
    }
    logging::error("%s : no buffer for the text (length %d)", function, static_cast<int>(length));
    return false;
}

// A headstage EEPROM that holds no part number of ours reads as the headstage this box is
// made for.
void apply_headstage_fallback(char* text, size_t length) {
    if (text[0] != 'N') {
        logging::info("Invalid HS eeprom detected, defaulting to NP2_HS_30");
        copy_text(text, length, FALLBACK_HS_PART_NUMBER);
    }
}

// What every HardwareID getter of a port checks before it talks to the headstage.
NP_ErrorCode hardware_id_call_usable(const char* function, int port_id, int dock_id,
                                     const Neuropixels::HardwareID* id,
                                     std::shared_ptr<MURA_Controller_Library>& library) {
    if (!id) {
        logging::error("%s : null HardwareID, nothing written", function);
        return Neuropixels::PARAMETER_INVALID;
    }
    if (!valid_api_port(port_id)) {
        logging::error("%s : invalid portID %d (ports 1..4)", function, port_id);
        return Neuropixels::WRONG_PORT;
    }
    if (dock_id != 0 && dock_id != 1) {
        logging::error("%s : invalid dockID %d (docks 0 and 1)", function, dock_id);
        return Neuropixels::WRONG_DOCK_ID;
    }
    library = open_library(function);
    return library ? Neuropixels::SUCCESS : Neuropixels::NOT_OPEN;
}

NP_ErrorCode link_down(const char* function, int port_id) {
    logging::error("%s : no headstage answers on port %d", function, port_id);
    return Neuropixels::NO_LINK;
}

NP_ErrorCode eeprom_unreadable(const char* function, int port_id) {
    logging::error("%s : the EEPROMs of port %d cannot be read", function, port_id);
    return Neuropixels::IIC_ERROR;
}

} // namespace

bool ensure_port_link(MURA_Controller_Library& library, int port_id) {
    Adapter_State& s = state();
    if (!valid_api_port(port_id))
        return false;
    std::atomic<bool>& link_up = s.port_link_up[static_cast<size_t>(port_id - 1)];
    if (!link_up && library.probe_init_part_1(library_port(port_id))) {
        link_up = true;
        s.i2c_comm_initialized = true;
    }
    return link_up;
}

} // namespace Selvan::MURA::api

namespace Neuropixels {

using namespace Selvan::MURA;
using namespace Selvan::MURA::api;

// A headstage is there when its port's PLL is locked in a design that has the port, and its
// link comes up.
NP_ErrorCode NP_APIC detectHeadStage(int slotID, int portID, bool* detected) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "detectHeadStage");
    logging::info("slotID : %d, portID : %d", slotID, portID);
    return guarded("detectHeadStage", FAILED, [&] {
        const auto library = open_library("detectHeadStage");
        if (!library)
            return FAILED;
        const uint8_t mask = library->get_cached_np_port_status();
        const uint8_t count = library->get_np_port_count_from_fpga_signature();
        bool present = valid_api_port(portID) && portID <= count && ((mask >> (portID - 1)) & 1);
        if (present) {
            std::lock_guard lock(state().probe_access_mutex);
            present = ensure_port_link(*library, portID);
        }
        if (detected)
            *detected = present;
        return SUCCESS;
    });
}

NP_ErrorCode NP_APIC readHSPN(int slotID, int portID, char* pn, size_t maxlen) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "readHSPN");
    logging::info("slotID : %d, portID : %d", slotID, portID);
    return guarded("readHSPN", FAILED, [&] {
        if (!text_buffer_usable("readHSPN", pn, maxlen))
            return FAILED;
        const auto library = open_library("readHSPN");
        if (!library)
            return FAILED;
        Adapter_State& s = state();
        bool ok = false;
        {
            std::lock_guard lock(s.probe_access_mutex);
            if (slotID == TEST_PATH_SLOT && valid_api_port(portID))
                s.port_link_up[static_cast<size_t>(portID - 1)] = false;
            ensure_port_link(*library, portID);
            ok = library->readHSPN(library_port(portID), pn, narrow_length(maxlen));
        }
        apply_headstage_fallback(pn, maxlen);
        logging::info("Reporting HS part number : %s", pn);
        return result_of(ok);
    });
}

// The headstage EEPROM's serial number (0 where it holds none).
NP_ErrorCode NP_APIC readHSSN(int slotID, int portID, uint64_t* sn) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "readHSSN");
    logging::info("slotID : %d, portID : %d", slotID, portID);
    return guarded("readHSSN", FAILED, [&] {
        if (!sn) {
            logging::error("readHSSN : no place for the serial number");
            return PARAMETER_INVALID;
        }
        if (!valid_api_port(portID)) {
            logging::error("readHSSN : port %d is no port of the box (1 to 4)", portID);
            return WRONG_PORT;
        }
        const auto library = open_library("readHSSN");
        if (!library)
            return NOT_OPEN;
        std::lock_guard lock(state().probe_access_mutex);
        if (!ensure_port_link(*library, portID))
            return link_down("readHSSN", portID);
        if (!library->readHSSN(library_port(portID), sn))
            return eeprom_unreadable("readHSSN", portID);
        return SUCCESS;
    });
}

NP_ErrorCode NP_APIC readProbePN(int slotID, int portID, int dockID, char* pn, size_t maxlen) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "readProbePN");
    logging::info("slotID : %d, portID : %d, dockID : %d", slotID, portID, dockID);
    return guarded("readProbePN", FAILED, [&] {
        if (!text_buffer_usable("readProbePN", pn, maxlen))
            return FAILED;
        const auto library = open_library("readProbePN");
        if (!library)
            return FAILED;
        bool ok = false;
        {
            std::lock_guard lock(state().probe_access_mutex);
            ensure_port_link(*library, portID);
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
        if (!id) {
            logging::error("readProbeSN : null serial number, nothing written");
            return FAILED;
        }
        const auto library = open_library("readProbeSN");
        if (!library)
            return FAILED;
        std::lock_guard lock(state().probe_access_mutex);
        ensure_port_link(*library, portID);
        return result_of(library->readProbeSN(library_port(portID), id));
    });
}

// The headstage EEPROM's part number and version; the headstage carries no serial number.
NP_ErrorCode NP_APIC getHeadstageHardwareID(int slotID, int portID, struct HardwareID* pHwid) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "getHeadstageHardwareID");
    logging::info("slotID : %d, portID : %d", slotID, portID);
    return guarded("getHeadstageHardwareID", FAILED, [&] {
        std::shared_ptr<MURA_Controller_Library> library;
        if (const NP_ErrorCode refused =
                hardware_id_call_usable("getHeadstageHardwareID", portID, 0, pHwid, library))
            return refused;
        HardwareID id{};
        {
            std::lock_guard lock(state().probe_access_mutex);
            if (!ensure_port_link(*library, portID))
                return link_down("getHeadstageHardwareID", portID);
            uint64_t serial = 0;
            if (!library->readHSVersion(library_port(portID), &id.version_Major, &id.version_Minor) ||
                !library->readHSPN(library_port(portID), id.ProductNumber, sizeof id.ProductNumber) ||
                !library->readHSSN(library_port(portID), &serial))
                return eeprom_unreadable("getHeadstageHardwareID", portID);
            id.SerialNumber = serial;
        }
        apply_headstage_fallback(id.ProductNumber, sizeof id.ProductNumber);
        logging::info("Reporting headstage %s, version %d.%d", id.ProductNumber, id.version_Major,
                      id.version_Minor);
        *pHwid = id;
        return SUCCESS;
    });
}

// The probe EEPROM's serial and part numbers; it carries no version (reported as 0.0).
NP_ErrorCode NP_APIC getProbeHardwareID(int slotID, int portID, int dockID, struct HardwareID* pHwid) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "getProbeHardwareID");
    logging::info("slotID : %d, portID : %d, dockID : %d", slotID, portID, dockID);
    return guarded("getProbeHardwareID", FAILED, [&] {
        std::shared_ptr<MURA_Controller_Library> library;
        if (const NP_ErrorCode refused =
                hardware_id_call_usable("getProbeHardwareID", portID, dockID, pHwid, library))
            return refused;
        HardwareID id{};
        uint64_t serial = 0;
        {
            std::lock_guard lock(state().probe_access_mutex);
            if (!ensure_port_link(*library, portID))
                return link_down("getProbeHardwareID", portID);
            if (!library->readProbeSN(library_port(portID), &serial) ||
                !library->readProbePN(library_port(portID), id.ProductNumber, sizeof id.ProductNumber))
                return eeprom_unreadable("getProbeHardwareID", portID);
        }
        id.SerialNumber = serial;
        logging::info("Reporting probe %s, serial number %llu", id.ProductNumber,
                      static_cast<unsigned long long>(serial));
        *pHwid = id;
        return SUCCESS;
    });
}

} // namespace Neuropixels
