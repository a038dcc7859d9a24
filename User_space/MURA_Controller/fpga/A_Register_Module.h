#pragma once

#include "Export.h"
#include "I_MemMapped_AXI.h"

#include <cstdint>

namespace Selvan::MURA {

// Common shape of the FPGA register modules: a base address in the register window and a
// non-owning link to the controller, which owns the module and outlives it.
class MURA_EXPORT A_Register_Module {
public:
    uint32_t base_address() const { return m_base; }

protected:
    // Prints "<ctor_text><base in hex>\n" on standard output, as every register module does.
    A_Register_Module(const char* ctor_text, uint32_t base, I_MemMapped_AXI* bus);
    ~A_Register_Module() = default;

    uint32_t read(uint32_t offset) const { return m_bus->read_register(m_base + offset); }
    void write(uint32_t offset, uint32_t value) const { m_bus->write_register(m_base + offset, value); }

    uint32_t m_base;
    I_MemMapped_AXI* m_bus;
};

} // namespace Selvan::MURA
