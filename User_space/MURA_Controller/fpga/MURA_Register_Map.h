#pragma once

#include <cstdint>

// Base addresses of the FPGA design's IP blocks in the register window (byte addresses).
namespace Selvan::MURA::register_map {

constexpr uint32_t CONTROL_WORD_BASE = 0x0000;    // configurator's control word
constexpr uint32_t BUILD_TIMESTAMP_BASE = 0x0008; // design build timestamp
constexpr uint32_t PORT_STATUS_BASE = 0x0200;     // NP port PLL lock bits; signature at +8
constexpr uint32_t UART_BASE = 0x0400;            // UART carrying the I2C tunnel
constexpr uint32_t SIMULATED_UART_BASE = 0x0000;  // where the simulator answers the UART
constexpr uint32_t FOREIGN_HW_ICAP_BASE = 0x0400; // configuration port of the other designs
constexpr uint32_t SPI_BASE = 0x0500;             // SPI master of the configuration flash
constexpr uint32_t XADC_BASE = 0x0800;            // system monitor
constexpr uint32_t OKELLY_BASE = 0x1000;          // RHD headstage interface
constexpr uint32_t AXI_STREAM_FIFO_BASE = 0x1200; // stream FIFO, unused
constexpr uint32_t HW_ICAP_BASE = 0x1400;         // configuration access port
constexpr uint32_t EFUSE_BASE = 0x1600;           // eFUSE user word

constexpr uint32_t SIGNATURE_ADDRESS = PORT_STATUS_BASE + 8;
constexpr uint32_t XADC_TEMPERATURE_ADDRESS = XADC_BASE + 0x200;

// Design identifier of the Neuropixels design ("NP" in the upper half of the signature) and
// the configuration-flash address of its image.
constexpr uint32_t NP_DESIGN_IDENTIFIER = 0x4E50;
constexpr uint32_t NP_DESIGN_FLASH_ADDRESS = 0xB00000;

constexpr uint32_t design_identifier(uint32_t signature) {
    return signature >> 16;
}
constexpr uint32_t np_port_count(uint32_t signature) {
    return (signature >> 4) & 0xF;
}

} // namespace Selvan::MURA::register_map
