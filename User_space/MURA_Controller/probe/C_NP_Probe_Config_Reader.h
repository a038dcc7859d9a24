#pragma once

#include "Export.h"
#include "M_NP_Probe_Config.h"

#include <array>

namespace Selvan::MURA {

// Reads a probe's ADC calibration table: a header line, then 32 lines of nine unsigned numbers
// (ADC, CompP, CompN, Slope, Coarse, Fine, Cfix, offset, threshold), each followed by one
// separator character. Values are not checked here; set_adc_calibration refuses bad ones.
class MURA_EXPORT NP_Probe_Config_Reader {
public:
    static constexpr const char* DEFAULT_FILE_NAME = "22175715561_ADCCalibration.csv";

    // True when all 32 records were read. Records read before a failure stay filled in.
    bool load_adc_calibration_data_from_file(const char* path);
    // The built-in default table of the library's resources.
    bool load_adc_calibration_data_from_file();

    const std::array<ADC_Calibration_Record, NP_Probe_Config_Module::ADC_COUNT>& records() const {
        return m_records;
    }

private:
    std::array<ADC_Calibration_Record, NP_Probe_Config_Module::ADC_COUNT> m_records{};
};

} // namespace Selvan::MURA
