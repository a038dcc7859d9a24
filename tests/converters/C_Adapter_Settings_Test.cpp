#include "C_Adapter_Settings.h"
#include "Log_Capture.h"
#include "Marker_Files.h"
#include "Output_Capture.h"
#include "Scratch_Directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <locale>

namespace Selvan::MURA::api {
namespace {

using Settings = C_Adapter_Settings;

std::vector<std::string> texts(const std::vector<Settings::Diagnostic>& diagnostics) {
    std::vector<std::string> result;
    for (const auto& d : diagnostics)
        result.push_back((d.error ? "ERROR " : "WARNING ") + d.text);
    return result;
}

TEST(AdapterSettings, EveryKeyCommentsAndBlanks) {
    std::vector<Settings::Diagnostic> diagnostics;
    const Settings settings =
        Settings::parse("# the lab's host\r\n\n  device = Virtual \nplatform=pxi\n"
                        "bs_firmware = 10.2.33 # what the host insists on\n"
                        "bsc_firmware = 1.0.0\nvirtual_recording = runs/a b.bin\n"
                        "virtual_speed = 2.5\nvirtual_content = counter\n"
                        "virtual_sync_hz = 0.5\nsync_input_line = 12\nraw_capture = c.bin\n"
                        "virtual_faults = PSB, i2c\n",
                        diagnostics);
    EXPECT_TRUE(diagnostics.empty());
    EXPECT_EQ(settings.device, Settings::Device::virtual_box);
    EXPECT_EQ(settings.platform, Neuropixels::NPPlatform_PXI);
    EXPECT_EQ(settings.bs_firmware, (Settings::Firmware_Version{10, 2, 33}));
    EXPECT_EQ(settings.bsc_firmware, (Settings::Firmware_Version{1, 0, 0}));
    EXPECT_EQ(settings.virtual_recording, "runs/a b.bin");
    EXPECT_EQ(settings.virtual_speed, 2.5);
    EXPECT_EQ(settings.virtual_content, "counter");
    EXPECT_EQ(settings.describe(),
              (std::vector<std::string>{"device = virtual", "platform = PXI", "bs_firmware = 10.2.33",
                                        "bsc_firmware = 1.0.0", "virtual_recording = runs/a b.bin",
                                        "virtual_speed = 2.5", "virtual_content = counter",
                                        "virtual_sync_hz = 0.5", "sync_input_line = 12",
                                        "raw_capture = c.bin", "virtual_faults = psb, i2c"}));
}

TEST(AdapterSettings, UnknownKeysWarnBadValuesAndLinesKeepTheDefault) {
    std::vector<Settings::Diagnostic> diagnostics;
    const Settings settings = Settings::parse(
        "gain = 5\ndevice = box\nplatform = USB3\nbs_firmware = 2.0\nbsc_firmware = 2.-1.0\n"
        "virtual_speed = 0\nvirtual_speed = 1e9\nvirtual_speed = 1,5\nvirtual_content = noise\n"
        "just words\nvirtual_recording =\nsync_input_line = 8\nvirtual_sync_hz = -1\n"
        "virtual_faults = psb, fire\n",
        diagnostics);
    const Settings defaults;
    EXPECT_EQ(settings.device, defaults.device);
    EXPECT_EQ(settings.platform, Neuropixels::NPPlatform_USB);
    EXPECT_EQ(settings.bs_firmware, defaults.bs_firmware);
    EXPECT_EQ(settings.bsc_firmware, defaults.bsc_firmware);
    EXPECT_EQ(settings.virtual_speed, 1.0);
    EXPECT_EQ(settings.virtual_content, "neural");
    EXPECT_TRUE(settings.virtual_recording.empty());
    const std::string file = "MURA_NPAPI_ADAPTER_SETTINGS line ";
    EXPECT_EQ(
        texts(diagnostics),
        (std::vector<std::string>{
            "WARNING " + file + "1: unknown key 'gain' is ignored",
            "ERROR " + file +
                "2: bad value 'box' for device (expected hardware or virtual); the default is kept",
            "ERROR " + file + "3: bad value 'USB3' for platform (expected USB or PXI); the default is kept",
            "ERROR " + file +
                "4: bad value '2.0' for bs_firmware (expected MAJOR.MINOR.BUILD); the default is kept",
            "ERROR " + file +
                "5: bad value '2.-1.0' for bsc_firmware (expected MAJOR.MINOR.BUILD); the default is kept",
            "ERROR " + file +
                "6: bad value '0' for virtual_speed (expected a number above 0 and at most 1000); the "
                "default is kept",
            "ERROR " + file +
                "7: bad value '1e9' for virtual_speed (expected a number above 0 and at most 1000); the "
                "default is kept",
            "ERROR " + file +
                "8: bad value '1,5' for virtual_speed (expected a number above 0 and at most 1000); the "
                "default is kept",
            "ERROR " + file +
                "9: bad value 'noise' for virtual_content (expected neural, counter, ramp or sine); the "
                "default is kept",
            "ERROR " + file + "10: expected key = value, found 'just words'",
            "ERROR " + file +
                "11: bad value '' for virtual_recording (expected the path of a recording); the default is "
                "kept",
            "ERROR " + file +
                "12: bad value '8' for sync_input_line (expected a TTL input from 9 to 17); the "
                "default is kept",
            "ERROR " + file +
                "13: bad value '-1' for virtual_sync_hz (expected a number from 0 to 1000); the "
                "default is kept",
            "ERROR " + file +
                "14: bad value 'psb, fire' for virtual_faults (expected a comma-separated list of psb, "
                "signal, prbs, sr, eeprom, i2c); the default is kept"}));
}

// The file in the working directory: absent gives the defaults quietly; present is reported.
TEST(AdapterSettings, LoadReportsWhatIsInForce) {
    test_support::Scratch_Directory scratch;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(scratch.path());
    {
        test_support::Log_Capture capture;
        const Settings settings = Settings::load(true);
        EXPECT_EQ(settings.platform, Neuropixels::NPPlatform_USB);
        EXPECT_TRUE(
            capture.contains("Adapter settings (no MURA_NPAPI_ADAPTER_SETTINGS in the working directory):"));
        EXPECT_TRUE(capture.contains("  platform = USB"));
    }
    std::ofstream("MURA_NPAPI_ADAPTER_SETTINGS") << "platform = PXI\n";
    {
        test_support::Log_Capture capture;
        EXPECT_EQ(Settings::load(false).platform, Neuropixels::NPPlatform_PXI);
        EXPECT_TRUE(capture.lines().empty());
    }
    std::filesystem::current_path(previous);
}

TEST(MarkerFiles, InitConfigIsTheLeadingNumberOrTheFallback) {
    test_support::Stderr_Capture err;
    EXPECT_EQ(init_config_from_line("  3 and more", 1), 3);
    EXPECT_EQ(init_config_from_line("letters", 1), 1);
    EXPECT_EQ(init_config_from_line("99999999999", 1), 1);
    EXPECT_EQ(err.take(), "Exception catched at init config integer conversion\n"
                          "Exception catched at init config integer conversion\n");
}

} // namespace
} // namespace Selvan::MURA::api
