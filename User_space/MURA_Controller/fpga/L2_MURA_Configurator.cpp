#include "L2_MURA_Configurator.h"

#include "Console.h"
#include "Log.h"
#include "M_GPIO.h"

#include <stdexcept>

namespace Selvan::MURA {

MURA_Configurator::MURA_Configurator(GPIO_Module* gpio)
    : m_gpio(gpio) {}

void MURA_Configurator::reset_configuration() const {
    m_gpio->write_data(0);
}

void MURA_Configurator::replace_field(uint32_t mask, uint32_t value) const {
    const uint32_t word = m_gpio->read_data();
    m_gpio->write_data((word & ~mask) | (value & mask));
}

void MURA_Configurator::set_control_bit(uint8_t bit, bool value) const {
    replace_field(1u << bit, value ? 1u << bit : 0);
}

void MURA_Configurator::enable_np_streams(const std::vector<uint32_t>& ports) const {
    uint32_t mask = 0;
    for (uint32_t port : ports) {
        if (port > 3)
            throw std::runtime_error("enable_np_streams argument invalid");
        mask |= 1u << port;
    }
    replace_field(NP_STREAM_ENABLE_MASK, mask);
}

void MURA_Configurator::assign_uart_to_np_channel(uint8_t channel) const {
    if (channel > 3)
        throw std::runtime_error("assign_uart_to_np_channel invalid");
    replace_field(UART_CHANNEL_MASK, static_cast<uint32_t>(channel) << UART_CHANNEL_SHIFT);
}

void MURA_Configurator::set_one_mode(bool one) const {
    console::out(one ? "Setting ONE mode\n" : "Setting CORE mode\n");
    set_control_bit(ONE_MODE_BIT, one);
}

void MURA_Configurator::set_tlast_generation_mode_for_Windows_os(bool on) const {
    if (on)
        console::out("Setting Windows mode\n");
    set_control_bit(TLAST_WINDOWS_BIT, on);
}

void MURA_Configurator::set_QRB004_Power(bool on) const {
    console::out(on ? "set_QRB004_Power on\n" : "set_QRB004_Power off\n");
    set_control_bit(QRB004_POWER_BIT, on);
}

void MURA_Configurator::send_soft_trigger_pulse() const {
    set_control_bit(SOFT_TRIGGER_BIT, true);
    set_control_bit(SOFT_TRIGGER_BIT, false);
}

void MURA_Configurator::assign_port_4_to_np(bool on) const {
    if (on)
        console::out("Assigning port_4 to NP\n");
    set_control_bit(PORT_4_TO_NP_BIT, on);
}

void MURA_Configurator::set_ttl_input_index(uint32_t index) const {
    if (index > 7)
        console::err("ttl_input_index > 7 truncating\n");
    replace_field(TTL_INPUT_MASK, (index & 0x7) << TTL_INPUT_SHIFT);
}

bool MURA_Configurator::print_np_ports_status(uint32_t status) {
    logging::info("# Appearent status of NP Ports  #");
    static constexpr const char* lines[] = {"NP Port 1 PCLK Locked : %s", "NP Port 2 PCLK Locked : %s",
                                            "NP Port 3 PCLK Locked : %s", "NP Port 4 PCLK Locked : %s"};
    for (uint32_t port = 0; port < 4; ++port)
        logging::info(lines[port], (status >> port) & 1 ? "Yes" : "No");
    return (status & 0xF) != 0;
}

} // namespace Selvan::MURA
