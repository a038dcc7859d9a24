#pragma once

#include <array>
#include <cstdint>

namespace Selvan::MURA::demux {

// Receives complete channel blocks of one Neuropixels port: one AP sample of all 384 channels,
// or one LFP sample of all 384 channels. The block belongs to the caller, which overwrites it
// with the next frames; a listener may correct it in place before passing it on and must copy
// what it keeps.
class I_L2_Demux_CH_Results {
public:
    virtual void publish_ap_ch_data(std::array<uint16_t, 384>& block) = 0;
    virtual void publish_lp_ch_data(std::array<uint16_t, 384>& block) = 0;
    virtual ~I_L2_Demux_CH_Results() = default;
};

} // namespace Selvan::MURA::demux
