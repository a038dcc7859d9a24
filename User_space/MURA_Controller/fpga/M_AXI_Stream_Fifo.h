#pragma once

#include "A_Register_Module.h"

namespace Selvan::MURA {

// The design's stream FIFO block; present in the module map, not driven by the library.
class MURA_EXPORT AXI_Stream_Fifo_Module : public A_Register_Module {
public:
    AXI_Stream_Fifo_Module(uint32_t base, I_MemMapped_AXI* bus);
};

} // namespace Selvan::MURA
