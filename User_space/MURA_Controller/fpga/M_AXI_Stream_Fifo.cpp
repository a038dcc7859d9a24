#include "M_AXI_Stream_Fifo.h"

namespace Selvan::MURA {

AXI_Stream_Fifo_Module::AXI_Stream_Fifo_Module(uint32_t base, I_MemMapped_AXI* bus)
    : A_Register_Module("AXI_Stream_Fifo_Module ctor at base adr : ", base, bus) {}

} // namespace Selvan::MURA
