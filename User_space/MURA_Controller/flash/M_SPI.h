#pragma once

#include "A_Register_Module.h"

#include <cstddef>

namespace Selvan::MURA {

// SPI master in front of the FPGA's configuration flash.
class MURA_EXPORT SPI_Module : public A_Register_Module {
public:
    static constexpr uint32_t CONTROL = 0x60;
    static constexpr uint32_t STATUS = 0x64;
    static constexpr uint32_t TX_DATA = 0x68;
    static constexpr uint32_t RX_DATA = 0x6C;
    static constexpr uint32_t SLAVE_SELECT = 0x70;
    static constexpr uint32_t STATUS_RX_EMPTY = 1u << 0;
    static constexpr uint32_t STATUS_TX_EMPTY = 1u << 2;
    // Enabled, master, manual slave select; with bit 8 the transfer is held back.
    static constexpr uint32_t CONTROL_INHIBITED = 0x186;
    static constexpr uint32_t CONTROL_RUN = 0x86;
    static constexpr uint32_t SLAVE_SELECTED = 0;
    static constexpr uint32_t SLAVE_RELEASED = 1;

    // How a transfer leaves the receive FIFO: drained of stray words, or checked to be empty.
    enum class Rx_Finish { drain, check };

    SPI_Module(uint32_t base, I_MemMapped_AXI* bus);

    void set_slave_select(uint32_t value) const;
    uint32_t read_status() const;

    // Polls the status up to 50 times for an empty transmit FIFO; throws
    // "Tx fifo should have been drained" otherwise.
    void wait_tx_drained();
    // Discards receive words until the FIFO reports empty, at most 20; throws
    // "Rx fifo should have been drained" after 20 discards.
    void drain_rx() const;
    // Throws "Rx fifo should be emptied" when the receive FIFO still holds data.
    void check_rx_emptied() const;

    // One transfer: queue the bytes with the transfer held back, release it, wait for the
    // transmit FIFO to drain and read one receive word per byte sent. The received bytes are
    // stored in `received` when it is not null.
    void transfer(const uint8_t* bytes, size_t count, uint8_t* received, Rx_Finish finish);

    // Most failed transmit-drain polls seen in one wait.
    uint32_t tx_drain_high_water_mark() const { return m_tx_drain_high_water_mark; }

private:
    uint32_t m_tx_drain_high_water_mark = 0;
};

} // namespace Selvan::MURA
