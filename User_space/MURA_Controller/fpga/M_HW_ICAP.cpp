#include "M_HW_ICAP.h"

#include "Console.h"

#include <array>

namespace Selvan::MURA {
namespace {

constexpr uint32_t reverse_bytes(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

} // namespace

HW_ICAP_Module::HW_ICAP_Module(uint32_t base, I_MemMapped_AXI* bus)
    : A_Register_Module("HW_ICAP_Module ctor at base adr : ", base, bus) {}

bool HW_ICAP_Module::write_words(const uint32_t* words, size_t count) const {
    for (size_t i = 0; i < count; ++i)
        write(WRITE_FIFO, words[i]);
    write(CONTROL, 1);

    bool done = false;
    for (uint32_t poll = 0; poll < POLL_LIMIT && !done; ++poll)
        done = read(STATUS) & 1;
    if (!done) {
        console::err("M_HW_ICAP_Module :: write done timeout\n");
        return false;
    }

    bool cleared = false;
    for (uint32_t poll = 0; poll < POLL_LIMIT && !cleared; ++poll)
        cleared = !(read(CONTROL) & 1);
    if (!cleared) {
        console::err("M_HW_ICAP_Module :: write CR bit clear timeout\n");
        return false;
    }
    return true;
}

bool HW_ICAP_Module::send_boot_command(uint32_t boot_address) const {
    const std::array<uint32_t, 8> packet = {
        0xFFFFFFFF,                  // dummy
        0xAA995566,                  // sync word
        0x20000000,                  // no-op
        0x30020001,                  // write one word to WBSTAR
        reverse_bytes(boot_address), // the port takes the address byte-reversed
        0x30008001,                  // write one word to CMD
        0x0000000F,                  // IPROG
        0x20000000,                  // no-op
    };
    if (!write_words(packet.data(), packet.size()))
        return false;
    console::out("Boot cmd suceeded\n");
    return true;
}

} // namespace Selvan::MURA
