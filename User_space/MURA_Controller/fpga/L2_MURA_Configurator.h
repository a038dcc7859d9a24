#pragma once

#include "Export.h"

#include <cstdint>
#include <vector>

namespace Selvan::MURA {

class GPIO_Module;

// Owns the meaning of the FPGA's control word at 0x0000. Every field update is a
// read-modify-write, so the fields written by other operations survive.
class MURA_EXPORT MURA_Configurator {
public:
    static constexpr uint32_t NP_STREAM_ENABLE_MASK = 0xF;
    static constexpr uint32_t UART_CHANNEL_SHIFT = 4;
    static constexpr uint32_t UART_CHANNEL_MASK = 0x3u << UART_CHANNEL_SHIFT;
    static constexpr uint8_t ONE_MODE_BIT = 6;
    static constexpr uint8_t TLAST_WINDOWS_BIT = 7;
    static constexpr uint8_t QRB004_POWER_BIT = 8;
    static constexpr uint8_t SOFT_TRIGGER_BIT = 9;
    static constexpr uint8_t PORT_4_TO_NP_BIT = 10;
    static constexpr uint32_t TTL_INPUT_SHIFT = 11;
    static constexpr uint32_t TTL_INPUT_MASK = 0x7u << TTL_INPUT_SHIFT;

    explicit MURA_Configurator(GPIO_Module* gpio);

    void reset_configuration() const;
    // Enables exactly the listed NP ports (0..3); throws "enable_np_streams argument invalid"
    // before writing anything when an entry is out of range.
    void enable_np_streams(const std::vector<uint32_t>& ports) const;
    // Routes the I2C tunnel's UART to NP port `channel`; throws "assign_uart_to_np_channel
    // invalid" for a channel above 3.
    void assign_uart_to_np_channel(uint8_t channel) const;
    void set_one_mode(bool one) const;
    void set_tlast_generation_mode_for_Windows_os(bool on) const;
    void set_QRB004_Power(bool on) const;
    void send_soft_trigger_pulse() const;
    void assign_port_4_to_np(bool on) const;
    void set_ttl_input_index(uint32_t index) const;

    // Logs the PLL lock state of the four NP ports; true when any of them is locked.
    static bool print_np_ports_status(uint32_t status);

private:
    void set_control_bit(uint8_t bit, bool value) const;
    void replace_field(uint32_t mask, uint32_t value) const;

    GPIO_Module* m_gpio;
};

} // namespace Selvan::MURA
