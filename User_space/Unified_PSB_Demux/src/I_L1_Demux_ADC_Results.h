#pragma once

#include "Export.h"

#include <array>
#include <cstdint>

namespace Selvan::MURA::demux {

// One PSB frame of a Neuropixels 1.0 probe: 32 ADC samples, one unused value and the two
// 10-bit halves of the frame counter, each masked to 10 bits.
using ADC_Frame = std::array<uint16_t, 35>;

// Receives the decoded PSB frames of one probe port.
class MURA_EXPORT I_L1_Demux_ADC_Results {
public:
    virtual void publish_adc_data(const ADC_Frame& adc) = 0;
    // The same frame still in its block form, 5 rows of 7 little-endian words whose lane tags
    // are known to be right: element minor + 5 x lane is word 7 x minor + lane, bits 9..0. A
    // listener that can take values straight from there saves building the frame; one that
    // returns false gets the frame through publish_adc_data.
    virtual bool publish_psb_frame(const uint8_t* /*rows*/) { return false; }
    // A whole super frame of 13 such frames, all tags right. A listener that takes it returns
    // true; one that returns false (it cannot, or not this one) gets the frames one by one.
    virtual bool publish_psb_super_frame(const uint8_t* /*frames*/) { return false; }
    virtual void reset_and_resync_counters() = 0;
    virtual ~I_L1_Demux_ADC_Results() = default;
};

} // namespace Selvan::MURA::demux
