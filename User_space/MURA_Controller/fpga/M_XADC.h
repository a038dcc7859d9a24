#pragma once

#include "A_Register_Module.h"

namespace Selvan::MURA {

// The FPGA's system monitor.
class MURA_EXPORT XADC_Module : public A_Register_Module {
public:
    XADC_Module(uint32_t base, I_MemMapped_AXI* bus);
    ~XADC_Module();
    XADC_Module(const XADC_Module&) = delete;
    XADC_Module& operator=(const XADC_Module&) = delete;

    // Die temperature in degrees Celsius from the 12-bit conversion code at base + 0x200.
    float read_temperature() const;

    static float temperature_from_register(uint32_t raw);
};

} // namespace Selvan::MURA
