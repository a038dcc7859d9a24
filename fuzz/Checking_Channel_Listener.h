#pragma once

#include "Fuzz_Support.h"
#include "I_L2_Demux_CH_Results.h"

#include <cstdint>

namespace Selvan::MURA::fuzzing {

// Receives the channel stage's blocks: whatever the stream held, every decoded value must be a
// 10-bit ADC code.
class Checking_Channel_Listener : public demux::I_L2_Demux_CH_Results {
public:
    void publish_ap_ch_data(demux::Channel_Block& block) override { check(block); }
    void publish_lp_ch_data(demux::Channel_Block& block) override { check(block); }

private:
    static void check(const demux::Channel_Block& block) {
        for (uint16_t sample : block)
            require(sample <= 0x3FF, "a channel sample wider than 10 bits");
    }
};

} // namespace Selvan::MURA::fuzzing
