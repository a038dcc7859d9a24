#pragma once

#include "A_Register_Module.h"

namespace Selvan::MURA {

// The UART that carries the I2C tunnel to the probe headstages: receive FIFO at +0x0 (low
// byte), transmit FIFO at +0x4, status at +0x8.
class MURA_EXPORT UART_Module : public A_Register_Module {
public:
    static constexpr uint32_t RX_FIFO = 0x0;
    static constexpr uint32_t TX_FIFO = 0x4;
    static constexpr uint32_t STATUS = 0x8;
    static constexpr uint32_t STATUS_RX_VALID = 1u << 0;
    static constexpr uint32_t STATUS_TX_EMPTY = 1u << 2;
    static constexpr uint32_t STATUS_INTERRUPT_ENABLED = 1u << 4;

    UART_Module(uint32_t base, I_MemMapped_AXI* bus);

    // Reads the status word and reports any error bit on standard error.
    uint32_t check_status() const;
    // Pushes the bytes into the transmit FIFO (at most 255 per call) and checks the status.
    void send(const uint8_t* bytes, uint32_t length, uint32_t timeout) const;
    // Receives `count` bytes, waiting up to timeout_ms for each; throws
    // "UART_Module recv timeout" when a byte does not arrive in time.
    void recv(uint8_t* bytes, uint32_t count, uint32_t timeout_ms) const;
};

} // namespace Selvan::MURA
