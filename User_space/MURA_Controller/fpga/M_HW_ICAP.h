#pragma once

#include "A_Register_Module.h"

#include <cstddef>

namespace Selvan::MURA {

// The FPGA's configuration access port (AXI HWICAP): words written to its FIFO go into the
// configuration logic, which is how a warm boot into another design is requested.
class MURA_EXPORT HW_ICAP_Module : public A_Register_Module {
public:
    static constexpr uint32_t WRITE_FIFO = 0x100;
    static constexpr uint32_t CONTROL = 0x10C;
    static constexpr uint32_t STATUS = 0x110;
    static constexpr uint32_t POLL_LIMIT = 100;

    HW_ICAP_Module(uint32_t base, I_MemMapped_AXI* bus);

    // Writes the words and starts the transfer; false (with a message on standard error) when
    // the port does not report done or does not clear its start bit within 100 reads.
    bool write_words(const uint32_t* words, size_t count) const;
    // The 7-series warm-boot packet: WBSTAR <- boot address (bytes reversed), CMD <- IPROG.
    bool send_boot_command(uint32_t boot_address) const;
};

} // namespace Selvan::MURA
