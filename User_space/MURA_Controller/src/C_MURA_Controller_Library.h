#pragma once

#include "Export.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace Selvan::MURA {

class A_MURA_Controller;

// Facade through which the Neuropixels API drives one MURA box: device lifecycle, FPGA identity
// and design switch, port power-up and PLL check. Not copyable or movable; the API holds the
// one instance through an owning pointer. All operations run on the API thread.
class MURA_EXPORT MURA_Controller_Library {
public:
    static constexpr uint32_t ERROR_LEVEL_NONE = 0;
    static constexpr uint32_t ERROR_LEVEL_PROBE_BRING_UP = 1;
    static constexpr uint32_t ERROR_LEVEL_OPEN_FAILED = 2;
    static constexpr uint32_t ERROR_LEVEL_PUMP_FAILED = 3;

    static constexpr uint32_t PLL_LOCK_ATTEMPTS = 5;
    static constexpr std::chrono::milliseconds PLL_LOCK_ATTEMPT_PAUSE{1000};
    static constexpr std::chrono::milliseconds FPGA_REBOOT_WAIT{10000};

    explicit MURA_Controller_Library(bool simulation);
    // Runs the library on a given controller (the box model in tests).
    MURA_Controller_Library(std::shared_ptr<A_MURA_Controller> controller, bool simulation);
    ~MURA_Controller_Library();
    MURA_Controller_Library(const MURA_Controller_Library&) = delete;
    MURA_Controller_Library& operator=(const MURA_Controller_Library&) = delete;

    bool open();
    // Hardware: logs the FPGA identity, sets up the control word (ONE mode, QRB004 power, port 4
    // to NP) and waits for at least one NP port PLL to lock. Simulation: pretends port 0 of a
    // two-port design is locked.
    bool pre_init(bool one_mode);
    // Checks that the Neuropixels design is loaded; otherwise, when allowed, warm-boots the FPGA
    // into it and reopens the device.
    bool check_and_switch_firmware_if_nec(bool allow_switch);
    bool icap_boot(uint32_t boot_address);

    std::string get_design_build_date() const;
    std::string get_design_identifier_from_fpga() const;
    uint32_t get_fpga_efuse() const;
    float get_fpga_temperature() const;
    uint8_t get_np_port_count_from_fpga_signature() const { return m_np_port_count_parameter_from_fpga; }
    uint8_t get_cached_np_port_status() const { return m_cached_np_port_status; }
    std::string get_library_version() const { return "1.0"; }
    bool is_in_simulation_mode() const { return m_simulation; }
    uint32_t get_current_error_level() const { return m_current_error_level; }

    const std::shared_ptr<A_MURA_Controller>& get_controller() const { return m_controller; }

private:
    bool check_np_ports_status();
    void log_fpga_info();
    static uint8_t np_port_mask_from_count(uint8_t count);

    std::shared_ptr<A_MURA_Controller> m_controller;
    uint32_t m_current_error_level = ERROR_LEVEL_NONE;
    bool m_simulation;
    uint8_t m_np_port_count_parameter_from_fpga = 0;
    uint8_t m_cached_np_port_status = 0;
};

} // namespace Selvan::MURA
