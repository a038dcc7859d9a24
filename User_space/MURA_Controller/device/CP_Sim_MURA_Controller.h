#pragma once

#include "A_MURA_Controller.h"

namespace Selvan::MURA {

// The controller of simulation runs: no device behind it. Register writes are only printed;
// reads answer from a small script that makes every I2C exchange over the UART succeed.
class MURA_EXPORT CP_Sim_MURA_Controller : public A_MURA_Controller {
public:
    // The simulated UART's receive FIFO always holds 0xC3, the I2C acknowledge byte, and its
    // status always shows received data without error bits.
    static constexpr uint32_t SCRIPTED_RX_FIFO_ADDRESS = 0x0000;
    static constexpr uint32_t SCRIPTED_STATUS_ADDRESS = 0x0008;
    static constexpr uint32_t ACKNOWLEDGE = 0xC3;

    CP_Sim_MURA_Controller() = default;
    ~CP_Sim_MURA_Controller() override;

    void write_register(uint32_t byte_address, uint32_t value) override;
    uint32_t read_register(uint32_t byte_address) override;
    void write_fifo_bytes(uint32_t byte_address, uint8_t count, const uint8_t* bytes) override;
    bool prepare_for_read(uint8_t* buffer, uint32_t length, bool flag, uint32_t timeout_ms) override;
    uint32_t read_stream(uint64_t reserved, bool wait_for_full) override;
    void write_xdma_register(uint32_t byte_address, uint32_t value) override;
    uint32_t read_xdma_register(uint32_t byte_address) override;
    // Moves the UART to where the script answers it (base 0x0000).
    bool open_driver_connection(const char* driver_name, bool flag) override;
    void close_driver_connection() override;
    bool set_extended_property(uint32_t property, uint32_t value) override;
};

} // namespace Selvan::MURA
