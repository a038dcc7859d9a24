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
    virtual void reset_and_resync_counters() = 0;
    virtual ~I_L1_Demux_ADC_Results() = default;
};

} // namespace Selvan::MURA::demux
