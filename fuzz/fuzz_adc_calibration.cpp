// The ADC calibration reader fed arbitrary file contents. A table it accepts must be one it
// accepts again, with the same records, when written back in the documented format.

#include "C_NP_Probe_Config_Reader.h"
#include "Fuzz_Support.h"

#include <sstream>
#include <string>

namespace {

using namespace Selvan::MURA;

std::string documented_format(const NP_Probe_Config_Reader& reader) {
    std::ostringstream text;
    text << "ADC,CompP,CompN,Slope,Coarse,Fine,Cfix,offset,threshold\n";
    for (const ADC_Calibration_Record& r : reader.records())
        text << r.adc << ',' << r.comp_p << ',' << r.comp_n << ',' << r.slope << ',' << r.coarse << ','
             << r.fine << ',' << r.cfix << ',' << r.offset << ',' << r.threshold << '\n';
    return text.str();
}

bool same_records(const NP_Probe_Config_Reader& a, const NP_Probe_Config_Reader& b) {
    for (size_t i = 0; i < a.records().size(); ++i) {
        const ADC_Calibration_Record& x = a.records()[i];
        const ADC_Calibration_Record& y = b.records()[i];
        if (x.adc != y.adc || x.comp_p != y.comp_p || x.comp_n != y.comp_n || x.slope != y.slope ||
            x.coarse != y.coarse || x.fine != y.fine || x.cfix != y.cfix || x.offset != y.offset ||
            x.threshold != y.threshold)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::silence_diagnostics();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream file(std::string(reinterpret_cast<const char*>(data), size));
    NP_Probe_Config_Reader reader;
    if (!reader.load_adc_calibration_data(file))
        return 0;
    std::istringstream rewritten(documented_format(reader));
    NP_Probe_Config_Reader again;
    fuzzing::require(again.load_adc_calibration_data(rewritten), "a loaded table does not load again");
    fuzzing::require(same_records(reader, again), "a loaded table reads back differently");
    return 0;
}
