#include "M_Foreign_HW_ICAP.h"

#include "Console.h"
#include "Pause.h"

namespace Selvan::MURA {

Foreign_HW_ICAP_Module::Foreign_HW_ICAP_Module(uint32_t base, I_MemMapped_AXI* bus)
    : A_Register_Module("Foreign HW_ICAP_Module ctor at base adr : ", base, bus) {}

bool Foreign_HW_ICAP_Module::send_boot_command(uint32_t boot_address) const {
    write(REGISTER_NUMBER, WBSTAR);
    write(DATA, boot_address);
    write(GO, 1);
    uint32_t polls = 0;
    while (!(read(STATUS) & 1)) {
        if (polls == DONE_POLL_LIMIT) {
            write(GO, 0);
            console::err("Foreign HW_ICAP_Module : icap_done timeout, boot command not sent\n");
            return false;
        }
        console::out("Waiting for icap_done\n");
        pause_for(std::chrono::milliseconds(100));
        ++polls;
    }
    write(GO, 0);
    write(REGISTER_NUMBER, CMD);
    write(DATA, IPROG);
    write(GO, 1);
    return true;
}

} // namespace Selvan::MURA
