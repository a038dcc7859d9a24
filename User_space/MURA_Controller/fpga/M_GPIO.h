#pragma once

#include "A_Register_Module.h"

namespace Selvan::MURA {

// A block of plain data words: the control word, the port status and design signature, the
// build timestamp or the eFUSE word, depending on the instance's base address.
class MURA_EXPORT GPIO_Module : public A_Register_Module {
public:
    GPIO_Module(uint32_t base, I_MemMapped_AXI* bus);

    uint32_t read_data() const;
    void write_data(uint32_t value) const;
    // The word at base + 8 (the design signature on the port status block); announces the
    // address it reads on standard output.
    uint32_t read_second_data() const;
};

} // namespace Selvan::MURA
