#pragma once

#include "NeuropixAPI.h"

#include <string>
#include <string_view>
#include <vector>

namespace Selvan::MURA::api {

// The adapter's settings, read from the file MURA_NPAPI_ADAPTER_SETTINGS in the host's working
// directory: `key = value` lines, `#` comments (a whole line, or after a blank). They let a host
// that cannot be changed run on this box: the platform and firmware versions it insists on,
// and the virtual box instead of the hardware.
class C_Adapter_Settings {
public:
    static constexpr const char* FILE_NAME = "MURA_NPAPI_ADAPTER_SETTINGS";

    struct Firmware_Version {
        int major;
        int minor;
        int build;
        bool operator==(const Firmware_Version&) const = default;
    };

    enum class Device { hardware, virtual_box };

    // A problem found in the file: an unknown key (WARNING) or a bad value or line (ERROR).
    struct Diagnostic {
        bool error;
        std::string text;
    };

    Device device = Device::hardware;
    Neuropixels::NPPlatformID_t platform = Neuropixels::NPPlatform_USB;
    Firmware_Version bs_firmware{2, 0, 1};
    Firmware_Version bsc_firmware{2, 0, 1};
    // The stream the virtual box replays (looped); empty: its synthesizer.
    std::string virtual_recording;
    // The virtual box delivers its stream this many times faster than the real box.
    double virtual_speed = 1.0;
    // What the virtual box's synthesized probes send: neural, counter, ramp or sine.
    std::string virtual_content = "neural";
    // The square wave the virtual box drives into its sync input, as a lab's sync pulser does;
    // 0: none.
    double virtual_sync_hz = 1.0;
    // The TTL input that is the box's sync input (one the ADC packets' status carries).
    int sync_input_line = 9;
    // Where the box's stream is also written as it is read; empty: nowhere.
    std::string raw_capture;
    // Faults the virtual box shows, for trying a host's error handling: its probes' self tests
    // fail (psb, signal, prbs, sr, eeprom, i2c), as a comma-separated list.
    std::string virtual_faults;

    static constexpr int FIRST_STATUS_TTL_LINE = 9;
    static constexpr int LAST_STATUS_TTL_LINE = 17;

    // Settings from the text of a settings file; what cannot be used keeps its default and is
    // described in `diagnostics`.
    static C_Adapter_Settings parse(std::string_view text, std::vector<Diagnostic>& diagnostics);
    // Settings from the file in the working directory; the defaults when there is none. With
    // `report`, every diagnostic is logged (WARNING or ERROR) and so is every setting in force.
    static C_Adapter_Settings load(bool report);

    // "key = value" for every setting, in the file's terms.
    std::vector<std::string> describe() const;
};

} // namespace Selvan::MURA::api
