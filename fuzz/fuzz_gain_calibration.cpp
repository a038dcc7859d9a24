// The gain calibration loader fed arbitrary file contents. A loaded table holds only finite
// factors, and a failed load leaves the filter without a table.

#include "C_L2_CH_Gain_Fix_Filter.h"
#include "Fuzz_Support.h"

#include <cmath>
#include <sstream>
#include <string>

namespace {

using namespace Selvan::MURA;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::silence_diagnostics();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream file(std::string(reinterpret_cast<const char*>(data), size));
    C_L2_CH_Gain_Fix_Filter filter;
    const bool loaded = filter.load_gain_calibration(file);
    fuzzing::require(loaded == filter.is_gain_data_loaded(), "the load result and the table disagree");
    if (!loaded)
        return 0;
    for (uint32_t gain = 0; gain < C_L2_CH_Gain_Fix_Filter::GAIN_COUNT; ++gain)
        for (uint32_t electrode = 0; electrode < C_L2_CH_Gain_Fix_Filter::ELECTRODE_COUNT; ++electrode)
            fuzzing::require(std::isfinite(filter.ap_factor(gain, electrode)), "a non-finite gain factor");
    return 0;
}
