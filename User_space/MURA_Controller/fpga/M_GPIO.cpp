#include "M_GPIO.h"

#include "Console.h"

namespace Selvan::MURA {

GPIO_Module::GPIO_Module(uint32_t base, I_MemMapped_AXI* bus)
    : A_Register_Module("GPIO_Module ctor at base adr : ", base, bus) {}

uint32_t GPIO_Module::read_data() const {
    return read(0);
}

void GPIO_Module::write_data(uint32_t value) const {
    write(0, value);
}

uint32_t GPIO_Module::read_second_data() const {
    console::out("GPIO Second data at adres : 0x{:x}\n", m_base + 8);
    return read(8);
}

} // namespace Selvan::MURA
