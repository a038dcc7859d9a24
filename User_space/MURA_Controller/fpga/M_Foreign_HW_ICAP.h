#pragma once

#include "A_Register_Module.h"

namespace Selvan::MURA {

// The simpler configuration-port interface of the box's other designs: a register number, a
// data word, a go bit and a done bit.
class MURA_EXPORT Foreign_HW_ICAP_Module : public A_Register_Module {
public:
    static constexpr uint32_t REGISTER_NUMBER = 0x0;
    static constexpr uint32_t DATA = 0x4;
    static constexpr uint32_t GO = 0x8;
    static constexpr uint32_t STATUS = 0xC;
    static constexpr uint32_t WBSTAR = 0x10;
    static constexpr uint32_t CMD = 0x4;
    static constexpr uint32_t IPROG = 15;
    // The done bit is polled every 100 ms; 100 polls (10 s) are far more than the port needs.
    static constexpr uint32_t DONE_POLL_LIMIT = 100;

    Foreign_HW_ICAP_Module(uint32_t base, I_MemMapped_AXI* bus);

    // WBSTAR <- boot address, then CMD <- IPROG. Returns false, without issuing IPROG, when
    // the port never reports the first write done.
    bool send_boot_command(uint32_t boot_address) const;
};

} // namespace Selvan::MURA
