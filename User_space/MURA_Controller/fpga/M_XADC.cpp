#include "M_XADC.h"

#include "Console.h"

namespace Selvan::MURA {

XADC_Module::XADC_Module(uint32_t base, I_MemMapped_AXI* bus)
    : A_Register_Module("XADC_Module ctor at base adr : ", base, bus) {}

XADC_Module::~XADC_Module() {
    console::out("XADC_Module dtor\n");
}

float XADC_Module::read_temperature() const {
    return temperature_from_register(read(0x200));
}

float XADC_Module::temperature_from_register(uint32_t raw) {
    const uint32_t code = raw >> 4;
    return static_cast<float>(code * 504.0 / 4096 - 273.15);
}

} // namespace Selvan::MURA
