#include "A_Register_Module.h"

#include "Console.h"

namespace Selvan::MURA {

A_Register_Module::A_Register_Module(const char* ctor_text, uint32_t base, I_MemMapped_AXI* bus)
    : m_base(base)
    , m_bus(bus) {
    console::out("{}{:x}\n", ctor_text, base);
}

} // namespace Selvan::MURA
