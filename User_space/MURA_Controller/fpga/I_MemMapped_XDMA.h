#pragma once

#include <cstdint>

namespace Selvan::MURA {

// Registers of the DMA engine itself. Nothing in the library uses them.
class I_MemMapped_XDMA {
public:
    virtual void write_xdma_register(uint32_t byte_address, uint32_t value) = 0;
    virtual uint32_t read_xdma_register(uint32_t byte_address) = 0;

protected:
    ~I_MemMapped_XDMA() = default;
};

} // namespace Selvan::MURA
