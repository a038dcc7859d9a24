#pragma once

#include "C_Stream_Synthesizer.h"

#include <memory>
#include <vector>

namespace Selvan::MURA::test_support {

// A PSB recording of one port; `corrupted` super frames (after the first buffer of the
// decoder) carry one wrong AP value each, which spoils exactly one compared block apiece.
inline std::shared_ptr<std::vector<uint8_t>> psb_recording(uint32_t port, int corrupted) {
    synth::Synth_Settings settings;
    settings.np_ports = {port};
    settings.rhd = false;
    settings.content.np_content = synth::Np_Content::psb_test_pattern;
    synth::C_Stream_Synthesizer synthesizer(settings);
    auto bytes = std::make_shared<std::vector<uint8_t>>(synthesizer.next_ticks(2 * 1792 + 10));
    constexpr size_t ROW = 16;
    constexpr size_t ROWS_PER_SUPER_FRAME = 65;
    for (int i = 0; i < corrupted; ++i) {
        const size_t super_frame = 100 + 37 * static_cast<size_t>(i);
        // Row 5 opens frame 1, an AP frame; flip the lowest value bit of its word W1.
        uint8_t* row = bytes->data() + (super_frame * ROWS_PER_SUPER_FRAME + 5) * ROW;
        row[4] ^= 1;
    }
    return bytes;
}

} // namespace Selvan::MURA::test_support
