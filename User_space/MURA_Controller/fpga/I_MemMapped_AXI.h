#pragma once

#include <cstdint>

namespace Selvan::MURA {

// The FPGA design's AXI-Lite register window: 32-bit registers addressed by byte address.
// An implementation reaches the word at byte_address / 4.
class I_MemMapped_AXI {
public:
    virtual void write_register(uint32_t byte_address, uint32_t value) = 0;
    virtual uint32_t read_register(uint32_t byte_address) = 0;
    // Writes `count` bytes one after the other to the same address (a transmit FIFO), each
    // byte as its own 32-bit register write.
    virtual void write_fifo_bytes(uint32_t byte_address, uint8_t count, const uint8_t* bytes) = 0;

protected:
    ~I_MemMapped_AXI() = default;
};

} // namespace Selvan::MURA
