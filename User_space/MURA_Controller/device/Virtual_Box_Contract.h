#pragma once

#include <cstddef>
#include <cstdint>

// The contract between np3_bridge and the virtual box module (mura_virtual_box), a MURA box
// emulated in software that hosts can record from without hardware. The module is loaded on
// request only, from np3_bridge's own folder, and hands out device controllers; np3_bridge
// completes them with their register modules as it does its own.

namespace Selvan::MURA {
class A_MURA_Controller;
}

extern "C" {

struct MURA_Virtual_Box_Options {
    // The recording the box replays in a loop; null or empty: its stream synthesizer.
    const char* recording;
    // How many times faster than the real box the stream is delivered.
    double speed;
    // What the synthesized probes send: "neural" (null or empty), "counter", "ramp" or "sine".
    const char* content;
    // The square wave a sync pulser drives into the box's sync input (0: none), and the TTL
    // input that is the sync input.
    double sync_hz;
    int sync_line;
    // Faults the box shows, comma-separated: psb (a wrong PSB test pattern), signal (no test
    // signal), prbs (link errors in PRBS), sr (configuration uploads fail), eeprom (the EEPROMs do
    // not answer), i2c (the probe does not answer); null or empty: none.
    const char* faults;
};

// A new controller of the process's one virtual box (made on the first call; later calls
// apply their options to it). Null on failure, with the reason in `error`.
using MURA_Virtual_Box_Create = Selvan::MURA::A_MURA_Controller* (*)(const MURA_Virtual_Box_Options* options,
                                                                     char* error, size_t error_size);
// Destroys a controller made by the module.
using MURA_Virtual_Box_Destroy = void (*)(Selvan::MURA::A_MURA_Controller* controller);
}

namespace Selvan::MURA::virtual_box {
constexpr const char* CREATE_SYMBOL = "mura_virtual_box_create";
constexpr const char* DESTROY_SYMBOL = "mura_virtual_box_destroy";
#if defined(_WIN32)
constexpr const char* MODULE_FILE = "mura_virtual_box.dll";
#else
constexpr const char* MODULE_FILE = "libmura_virtual_box.so";
#endif
} // namespace Selvan::MURA::virtual_box
