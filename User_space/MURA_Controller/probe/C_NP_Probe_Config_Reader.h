#pragma once

#include "Export.h"
#include "M_NP_Probe_Config.h"

#include <array>
#include <istream>

namespace Selvan::MURA {

// Reads a probe's ADC calibration table: a header line, then 32 lines of nine comma-separated
// unsigned decimal numbers (ADC, CompP, CompN, Slope, Coarse, Fine, Cfix, offset, threshold),
// each line ended by a newline or a Windows line end. A row with another field count or a
// field that is not such a number fails the load, naming the row and the field. Values are not
// range-checked here; set_adc_calibration refuses bad ones.
class MURA_EXPORT NP_Probe_Config_Reader {
public:
    static constexpr const char* DEFAULT_FILE_NAME = "22175715561_ADCCalibration.csv";

    // True when all 32 records were read. Records read before a failure stay filled in.
    bool load_adc_calibration_data_from_file(const char* path);
    // The same from an open stream.
    bool load_adc_calibration_data(std::istream& in);
    // The built-in default table of the library's resources.
    bool load_adc_calibration_data_from_file();

    const std::array<ADC_Calibration_Record, NP_Probe_Config_Module::ADC_COUNT>& records() const {
        return m_records;
    }

private:
    std::array<ADC_Calibration_Record, NP_Probe_Config_Module::ADC_COUNT> m_records{};
};

} // namespace Selvan::MURA
