#include "C_NP_Probe_Config_Reader.h"

#include "Console.h"
#include "Resources.h"

#include <fstream>
#include <string>

namespace Selvan::MURA {
namespace {

// Reads one number and consumes the single separator character behind it. Reaching the end of
// the file anywhere, even right after the last number, fails the load.
uint32_t read_field(std::istream& in) {
    uint32_t value = 0;
    in >> value;
    in.get();
    return value;
}

} // namespace

bool NP_Probe_Config_Reader::load_adc_calibration_data_from_file(const char* path) {
    std::ifstream in(path);
    if (!in) {
        console::err("ADC config file open error. File : {}\n", path);
        return false;
    }
    try {
        in.exceptions(std::ios::failbit | std::ios::badbit | std::ios::eofbit);
        std::string header;
        std::getline(in, header);
        for (ADC_Calibration_Record& record : m_records) {
            record.adc = read_field(in);
            record.comp_p = read_field(in);
            record.comp_n = read_field(in);
            record.slope = read_field(in);
            record.coarse = read_field(in);
            record.fine = read_field(in);
            record.cfix = read_field(in);
            record.offset = read_field(in);
            record.threshold = read_field(in);
        }
    } catch (const std::exception& e) {
        console::err("Exception caught : {}", e.what());
        return false;
    }
    console::out("ADC calibration data loaded.\n");
    return true;
}

bool NP_Probe_Config_Reader::load_adc_calibration_data_from_file() {
    return load_adc_calibration_data_from_file(resources::find(DEFAULT_FILE_NAME).string().c_str());
}

} // namespace Selvan::MURA
