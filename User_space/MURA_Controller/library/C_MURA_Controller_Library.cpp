#include "C_MURA_Controller_Library.h"

#include "A_MURA_Controller.h"
#include "L2_MURA_Configurator.h"
#include "Log.h"
#include "MURA_Register_Map.h"
#include "M_Foreign_HW_ICAP.h"
#include "M_GPIO.h"
#include "M_HW_ICAP.h"
#include "M_I2C_Over_GSML.h"
#include "M_NP_Probe_Control.h"
#include "M_XADC.h"
#include "Pause.h"

#include <fmt/format.h>

#include <stdexcept>

namespace Selvan::MURA {
namespace {

struct Build_Date {
    uint32_t day;
    uint32_t month;
    uint32_t year;
};

// Build timestamp word: day in bits 31..27, month in bits 26..23, year - 2000 in bits 22..17.
Build_Date decode_build_timestamp(uint32_t word) {
    return {word >> 27, (word >> 23) & 0xF, ((word >> 17) & 0x3F) + 2000};
}

} // namespace

MURA_Controller_Library::MURA_Controller_Library(bool simulation)
    : MURA_Controller_Library(A_MURA_Controller::get_instance(simulation), simulation) {}

MURA_Controller_Library::MURA_Controller_Library(std::shared_ptr<A_MURA_Controller> controller,
                                                 bool simulation)
    : m_controller(std::move(controller))
    , m_simulation(simulation)
    , m_streaming(m_controller, simulation, m_current_error_level, m_tunnel_mutex) {
    logging::info(simulation ? "MURA_Controller_Library ctor. (Simulation mode)"
                             : "MURA_Controller_Library ctor. (HW mode)");
}

MURA_Controller_Library::~MURA_Controller_Library() {
    logging::info("MURA_Controller_Library dtor");
    finalize_stream();
}

bool MURA_Controller_Library::open() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "open");
    const bool opened = m_controller->open_driver_connection("MURA_Dext_Driver", true);
    if (!opened) {
        logging::error("Open driver failed");
        m_current_error_level = ERROR_LEVEL_OPEN_FAILED;
    }
    return opened;
}

bool MURA_Controller_Library::pre_init(bool one_mode) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "pre_init");
    logging::info("MURA_Controller_Library::pre_init(), simulation = %d", m_simulation);
    if (m_simulation) {
        m_cached_np_port_status = 1;
        m_np_port_count_parameter_from_fpga = 2;
        logging::info("Simulating pll status : %x", 1);
    } else {
        log_fpga_info();
        {
            std::lock_guard lock(m_tunnel_mutex);
            const MURA_Configurator& configurator = *m_controller->modules().configurator;
            configurator.reset_configuration();
            configurator.set_one_mode(one_mode);
            configurator.set_QRB004_Power(true);
            configurator.assign_port_4_to_np(true);
        }
        if (!check_np_ports_status()) {
            logging::warning("check_np_ports_status failed check connector connections");
            return false;
        }
    }
    create_probe_side_objects();
    return true;
}

void MURA_Controller_Library::create_probe_side_objects() {
    std::lock_guard lock(m_tunnel_mutex);
    // The probe controls point at the tunnel, so they go before it is replaced.
    for (auto& control : m_np_probe_control)
        control.reset();
    m_i2c = std::make_unique<I2C_Over_GSML_Module>(m_controller->modules().uart.get());
    for (uint32_t port = 0; port < NP_PORT_COUNT; ++port)
        m_np_probe_control[port] = std::make_unique<NP_Probe_Control_Module>(m_i2c.get());
    m_streaming.create_gain_filters();
}

bool MURA_Controller_Library::check_np_ports_status() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "check_np_ports_status");
    logging::info("Available NP port count from FPGA : %d", m_np_port_count_parameter_from_fpga);
    for (uint32_t attempt = 0; attempt < PLL_LOCK_ATTEMPTS; ++attempt) {
        const uint8_t pll_bits =
            static_cast<uint8_t>(m_controller->modules().gpio_port_status->read_data() & 0xFF);
        m_cached_np_port_status = pll_bits & np_port_mask_from_count(m_np_port_count_parameter_from_fpga);
        logging::info("Masked pll status : %x", m_cached_np_port_status);
        MURA_Configurator::print_np_ports_status(m_cached_np_port_status);
        if (m_cached_np_port_status != 0) {
            logging::info("At least one NP Port PLL lock");
            break;
        }
        logging::info("Waiting for NP Port PLL lock");
        pause_for(PLL_LOCK_ATTEMPT_PAUSE);
    }
    return m_cached_np_port_status != 0;
}

uint8_t MURA_Controller_Library::np_port_mask_from_count(uint8_t count) {
    if (count >= 1 && count <= 4)
        return static_cast<uint8_t>((1u << count) - 1);
    logging::error("Invalid m_np_port_count_parameter_from_fpga");
    return 0;
}

void MURA_Controller_Library::log_fpga_info() {
    const Build_Date date = decode_build_timestamp(m_controller->modules().gpio_build_timestamp->read_data());
    logging::info("FPGA design build timestamp : %02d-%02d-%04d\n", date.day, date.month, date.year);
    const uint32_t signature = m_controller->modules().gpio_port_status->read_second_data();
    logging::info("FPGA digital_design_signature : %08x\n", signature);
    m_np_port_count_parameter_from_fpga = static_cast<uint8_t>(register_map::np_port_count(signature));
    logging::info("NP port_count_parameter_from_fpga : %d\n", m_np_port_count_parameter_from_fpga);
    logging::info("FPGA efuse_usr : %08x\n", m_controller->modules().gpio_efuse->read_data());
    logging::info("FPGA temperature : %.2f\n", get_fpga_temperature());
}

bool MURA_Controller_Library::check_and_switch_firmware_if_nec(bool allow_switch) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "check_and_switch_firmware_if_nec");
    if (m_simulation) {
        logging::info("check_and_switch_firmware_if_nec skipped because of simulation mode");
        return true;
    }
    const uint32_t signature = m_controller->modules().gpio_port_status->read_second_data();
    logging::info("FPGA digital_design_signature : %08x\n", signature);
    if (register_map::design_identifier(signature) == register_map::NP_DESIGN_IDENTIFIER) {
        logging::info("digital_design_id matched");
        return true;
    }
    if (!allow_switch) {
        logging::info("digital_design_id not matched");
        return false;
    }
    logging::info("Switching FPGA design");
    if (!m_controller->modules().foreign_hw_icap->send_boot_command(register_map::NP_DESIGN_FLASH_ADDRESS)) {
        logging::error("FPGA design switch failed: the configuration port did not accept the boot address");
        return false;
    }
    m_controller->close_driver_connection();
    logging::info("Waiting for reboot of the FPGA");
    pause_for(FPGA_REBOOT_WAIT);
    logging::info("Wait end");
    return open();
}

bool MURA_Controller_Library::icap_boot(uint32_t boot_address) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "icap_boot");
    return m_controller->modules().hw_icap->send_boot_command(boot_address);
}

std::string MURA_Controller_Library::get_design_build_date() const {
    const Build_Date date = decode_build_timestamp(m_controller->modules().gpio_build_timestamp->read_data());
    return fmt::format("{:02d}-{:02d}-{:04d}", date.day, date.month, date.year);
}

std::string MURA_Controller_Library::get_design_identifier_from_fpga() const {
    return fmt::format("{:08x}", m_controller->modules().gpio_port_status->read_second_data());
}

uint32_t MURA_Controller_Library::get_fpga_efuse() const {
    return m_controller->modules().gpio_efuse->read_data();
}

float MURA_Controller_Library::get_fpga_temperature() const {
    return m_controller->modules().xadc->read_temperature();
}

} // namespace Selvan::MURA
