// The adapter settings parser fed arbitrary file contents. What it makes of a file, written
// back as `key=value` lines, must parse again without a diagnostic into the same settings.
// (Written with blanks around '=', a recording path that starts with '#' would read as a
// comment: a blank before '#' starts one.)

#include "C_Adapter_Settings.h"
#include "Fuzz_Support.h"

#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace Selvan::MURA;
using Settings = api::C_Adapter_Settings;

bool same(const Settings& a, const Settings& b) {
    return a.device == b.device && a.platform == b.platform && a.bs_firmware == b.bs_firmware &&
           a.bsc_firmware == b.bsc_firmware && a.virtual_recording == b.virtual_recording &&
           a.virtual_speed == b.virtual_speed && a.virtual_content == b.virtual_content &&
           a.virtual_sync_hz == b.virtual_sync_hz && a.sync_input_line == b.sync_input_line &&
           a.raw_capture == b.raw_capture && a.virtual_faults == b.virtual_faults;
}

// The description names the synthesized stream "(synthesized)" and no capture or fault "(none)",
// which are nothing to read back.
std::string written_back(const Settings& settings) {
    std::string text;
    for (std::string line : settings.describe()) {
        if (settings.virtual_recording.empty() && line.rfind("virtual_recording", 0) == 0)
            continue;
        if (settings.raw_capture.empty() && line.rfind("raw_capture", 0) == 0)
            continue;
        if (settings.virtual_faults.empty() && line.rfind("virtual_faults", 0) == 0)
            continue;
        line.replace(line.find(" = "), 3, "=");
        text += line + "\n";
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::silence_diagnostics();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<Settings::Diagnostic> diagnostics;
    const Settings settings =
        Settings::parse(std::string_view(reinterpret_cast<const char*>(data), size), diagnostics);
    std::vector<Settings::Diagnostic> again_diagnostics;
    const Settings again = Settings::parse(written_back(settings), again_diagnostics);
    fuzzing::require(again_diagnostics.empty(), "parsed settings written back have a diagnostic");
    fuzzing::require(same(settings, again), "parsed settings written back read differently");
    return 0;
}
