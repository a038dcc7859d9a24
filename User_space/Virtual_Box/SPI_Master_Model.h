#pragma once

#include "NOR_Flash_Model.h"

#include <cstddef>
#include <cstdint>
#include <deque>

namespace Selvan::MURA::box_model {

// The SPI master block at 0x0500 with the configuration flash behind slave select 0. Bytes
// written to the transmit FIFO wait while the control word inhibits transfers and go out when
// it lets them run; each byte sent puts the byte clocked in into the receive FIFO (0xFF while
// no slave is selected). Both FIFOs hold 16 entries; what does not fit is lost and counted.
// Not thread-safe: the box model serialises access.
class SPI_Master_Model {
public:
    static constexpr size_t FIFO_DEPTH = 16;
    static constexpr uint32_t CONTROL_ENABLE = 1u << 1;
    static constexpr uint32_t CONTROL_MASTER = 1u << 2;
    static constexpr uint32_t CONTROL_TX_FIFO_RESET = 1u << 5;
    static constexpr uint32_t CONTROL_RX_FIFO_RESET = 1u << 6;
    static constexpr uint32_t CONTROL_INHIBIT = 1u << 8;
    static constexpr uint32_t STATUS_RX_FULL = 1u << 1;
    static constexpr uint32_t STATUS_TX_FULL = 1u << 3;

    struct Faults {
        bool tx_never_drains = false; // queued bytes never leave the transmit FIFO
        uint32_t stray_rx_words = 0;  // extra receive words after every transfer that runs
    };

    // --- configuration ---
    Faults faults;
    NOR_Flash_Model& flash() { return m_flash; }
    const NOR_Flash_Model& flash() const { return m_flash; }

    // --- registers, by offset in the block ---
    void write(uint32_t offset, uint32_t value);
    uint32_t read(uint32_t offset);

    // --- observation ---
    bool flash_selected() const { return !(m_slave_select & 1u); }
    uint32_t tx_overflows() const { return m_tx_overflows; }
    uint32_t rx_overflows() const { return m_rx_overflows; }
    uint32_t rx_underflows() const { return m_rx_underflows; }

private:
    void write_control(uint32_t value);
    void write_slave_select(uint32_t value);
    bool transfers_may_run() const;
    void run_transfers();
    void push_rx(uint8_t byte);
    uint32_t status() const;
    uint32_t pop_rx();

    NOR_Flash_Model m_flash;
    uint32_t m_control = 0;
    uint32_t m_slave_select = 0xFFFFFFFF; // no slave selected after reset
    std::deque<uint8_t> m_tx;
    std::deque<uint8_t> m_rx;
    uint32_t m_tx_overflows = 0;
    uint32_t m_rx_overflows = 0;
    uint32_t m_rx_underflows = 0;
};

} // namespace Selvan::MURA::box_model
