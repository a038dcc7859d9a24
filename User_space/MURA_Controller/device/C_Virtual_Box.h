#pragma once

#include "Export.h"

#include <memory>
#include <string>

namespace Selvan::MURA {

class A_MURA_Controller;

// Opens the virtual box: loads its module, by absolute path, from the folder of the module
// holding this code (np3_bridge), never through the library search path, so that no file a
// working directory or the search path offers is ever loaded. The module stays loaded for the
// rest of the process.
class MURA_EXPORT C_Virtual_Box {
public:
    struct Options {
        std::string recording; // empty: the synthesizer
        double speed = 1.0;
        std::string content = "neural";
        double sync_hz = 1.0; // the pulser on its sync input; 0: none
        int sync_line = 9;    // the TTL input that is its sync input
        std::string faults;   // comma-separated: psb, signal, prbs, sr, eeprom, i2c
    };

    // A controller of the virtual box with its register modules, or null after an ERROR line.
    static std::shared_ptr<A_MURA_Controller> open_controller(const Options& options);
};

} // namespace Selvan::MURA
