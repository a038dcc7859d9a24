// Built-in self tests of the controller library: headstage link, EEPROMs, probe I2C, shift
// registers, the two data-path tests, the PRBS link test and the probe's test signal.

#include "C_MURA_Controller_Library.h"

#include "A_MURA_Controller.h"
#include "C_Bist_Data_Path_Tests.h"
#include "Console.h"
#include "Log.h"
#include "M_GPIO.h"
#include "M_NP_Probe_Control.h"

namespace Selvan::MURA {
namespace {

constexpr uint32_t IDENTIFICATION_BUFFER = 50;

bool valid_port(unsigned port, const char* function) {
    if (port < MURA_Controller_Library::NP_PORT_COUNT)
        return true;
    logging::error("%s : invalid port %d (ports 0..3)", function, port);
    return false;
}

} // namespace

bool MURA_Controller_Library::bist_HB(unsigned port) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "bist_HB");
    if (!valid_port(port, "bist_HB"))
        return false;
    if ((m_controller->modules().gpio_port_status->read_data() >> port) & 1)
        return true;
    logging::error("bist_HB : the PLL of port %d is not locked", static_cast<int>(port));
    return false;
}

bool MURA_Controller_Library::bist_Eeproms(unsigned port) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "bist_Eeproms");
    try {
        char buffer[IDENTIFICATION_BUFFER] = {};
        const bool headstage = readHSPN(port, buffer, IDENTIFICATION_BUFFER);
        const bool probe = readProbePN(port, buffer, IDENTIFICATION_BUFFER);
        return headstage && probe;
    } catch (const std::exception& e) {
        logging::error("Exception caught during bist_Eeproms : %s", e.what());
        return false;
    }
}

bool MURA_Controller_Library::bist_IIC(unsigned port) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "bist_IIC");
    char buffer[IDENTIFICATION_BUFFER] = {};
    return readProbePN(port, buffer, IDENTIFICATION_BUFFER);
}

bool MURA_Controller_Library::bist_Probe_SR(unsigned port) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "bist_Probe_SR");
    return writeProbeConfiguration(port, true);
}

bool MURA_Controller_Library::bist_PSB(unsigned port) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "bist_PSB");
    return valid_port(port, "bist_PSB") && probe_init_part_2(port, INIT_BIST_PSB) &&
           execute_psb_test(m_streaming, port);
}

bool MURA_Controller_Library::bist_Signal(unsigned port) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "bist_Signal");
    return valid_port(port, "bist_Signal") && probe_init_part_2(port, INIT_BIST_PIXEL) &&
           execute_bist_signal_test(m_streaming, port);
}

// The PRBS and test-signal sequences talk to one headstage: like every other headstage
// operation they take the tunnel and route its UART to their port first.
bool MURA_Controller_Library::bist_start_PBRS(unsigned port) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "bist_start_PBRS");
    if (!valid_port(port, "bist_start_PBRS"))
        return false;
    std::lock_guard lock(m_tunnel_mutex);
    NP_Probe_Control_Module& control = probe_control(port);
    route_tunnel_to(port);
    control.start_prbs_test();
    return true;
}

bool MURA_Controller_Library::bist_stop_PBRS(unsigned port, unsigned& errors) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "bist_stop_PBRS");
    errors = 0xFFFFFFFF;
    if (!valid_port(port, "bist_stop_PBRS"))
        return false;
    std::lock_guard lock(m_tunnel_mutex);
    NP_Probe_Control_Module& control = probe_control(port);
    route_tunnel_to(port);
    errors = control.stop_pbrs_test();
    return true;
}

void MURA_Controller_Library::set_bist_signal_mode(unsigned port, bool enable) {
    if (m_simulation) {
        console::out("MURA_Controller_Library::set_bist_signal_mode : {} (simulation)\n", enable ? 1 : 0);
        return;
    }
    if (!valid_port(port, "set_bist_signal_mode"))
        return;
    std::lock_guard lock(m_tunnel_mutex);
    NP_Probe_Control_Module& control = probe_control(port);
    route_tunnel_to(port);
    if (enable)
        control.bist_pixel();
    else
        control.bist_stop();
}

} // namespace Selvan::MURA
