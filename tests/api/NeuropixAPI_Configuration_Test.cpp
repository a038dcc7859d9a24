#include "Api_Fixture.h"

#include <gmock/gmock.h>

#include <cstring>
#include <sstream>
#include <thread>

namespace Selvan::MURA {
namespace {

using namespace Neuropixels;
using test_support::Log_Capture;
using test_support::Stdout_Capture;

class ApiConfiguration : public test_support::Api_Fixture {
protected:
    void open_box() {
        use_box_model();
        Stdout_Capture quiet;
        ASSERT_EQ(openBS(0), SUCCESS);
    }
    void open_and_init_port(int port) {
        Stdout_Capture quiet;
        ASSERT_EQ(openPort(0, port), SUCCESS);
        ASSERT_EQ(init(0, port, 0), SUCCESS);
    }
};

TEST_F(ApiConfiguration, WrappersLogTheirArgumentsAndMapTheResult) {
    open_box();
    open_and_init_port(2);
    Log_Capture capture;
    EXPECT_EQ(selectElectrode(0, 2, 0, 10, 0, 1), SUCCESS);
    EXPECT_EQ(selectElectrode(0, 2, 0, 191, 0, 1), FAILED);
    EXPECT_EQ(setGain(0, 2, 0, 10, 3, 5), SUCCESS);
    EXPECT_EQ(setGain(0, 2, 0, 10, 8, 5), FAILED);
    EXPECT_EQ(setReference(0, 2, 0, 10, 0, TIP_REF, 0), SUCCESS);
    EXPECT_EQ(setReference(0, 2, 0, 10, 0, GND_REF, 0), FAILED);
    EXPECT_EQ(setAPCornerFrequency(0, 2, 0, 10, true), SUCCESS);
    EXPECT_TRUE(capture.contains("slotID : 0, portID : 2, dockID : 0"));
    EXPECT_TRUE(capture.contains("channel=10, bank=1"));
    EXPECT_TRUE(capture.contains("channel=10, ap_gain=3, lfp_gain=5"));
    EXPECT_TRUE(capture.contains("channel=10,reference=1,bank=0"));
    EXPECT_TRUE(capture.contains("channel=10, disableHighPass : 1"));
    int ap = -1, lfp = -1;
    EXPECT_EQ(getGain(0, 2, 0, 10, &ap, &lfp), SUCCESS);
    EXPECT_EQ(ap, 3);
    EXPECT_EQ(lfp, 5);
    EXPECT_TRUE(capture.contains("portID : 2, APgainselect : 3, LFPgainselect : 5"));
    Stdout_Capture quiet;
    EXPECT_EQ(writeProbeConfiguration(0, 2, 0, true), SUCCESS);
    EXPECT_TRUE(capture.contains("slotID : 0, portID : 2, dockID : 0, readcheck : 1"));
    EXPECT_EQ(box->headstage(1).chain_uploads(0x0D).size(), 2u);
}

// setStdb sets the channel's standby bit (bit 6 of its byte) in the base configuration that the
// next upload shifts in; a channel that does not exist is refused with an ERROR line.
TEST_F(ApiConfiguration, StandbyReachesTheUploadedBaseConfiguration) {
    open_box();
    open_and_init_port(3);
    Stdout_Capture quiet;
    const auto upload = [&] {
        EXPECT_EQ(writeProbeConfiguration(0, 3, 0, true), SUCCESS);
        return box->headstage(2).chain_uploads(0x0C).back(); // the odd channels' chain
    };
    const std::vector<uint8_t> before = upload();
    EXPECT_EQ(setStdb(0, 3, 0, 5, true), SUCCESS);
    const std::vector<uint8_t> standby = upload();
    ASSERT_EQ(standby.size(), before.size());
    std::vector<uint8_t> differences;
    for (size_t i = 0; i < before.size(); ++i) {
        if (standby[i] != before[i])
            differences.push_back(static_cast<uint8_t>(standby[i] ^ before[i]));
    }
    EXPECT_EQ(differences, std::vector<uint8_t>{0x02}); // bit 6, the chain's bytes go out bit-reversed
    EXPECT_EQ(setStdb(0, 3, 0, 5, false), SUCCESS);
    EXPECT_EQ(upload(), before);
    Log_Capture capture;
    EXPECT_EQ(setStdb(0, 3, 0, 384, true), WRONG_CHANNEL);
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR,
                                 "setStdb : channel 384 is no channel of the probe (0 to 383)"));
    char text[128] = {};
    EXPECT_GT(getLastErrorMessage(text, sizeof text), 0u);
    EXPECT_STREQ(text, "setStdb : channel 384 is no channel of the probe (0 to 383)");
}

TEST_F(ApiConfiguration, OperatingModeIsOnlyLogged) {
    Log_Capture capture;
    EXPECT_EQ(setOPMODE(0, 1, 0, CALIBRATION), SUCCESS);
    EXPECT_EQ(setOPMODE(0, 1, 0, static_cast<probe_opmode_t>(7)), SUCCESS);
    EXPECT_EQ(capture.texts(),
              (std::vector<std::string>{"opmode : CALIBRATION, slotID : 0, portID : 1, dockID : 0",
                                        "opmode : ?, slotID : 0, portID : 1, dockID : 0"}));
}

TEST_F(ApiConfiguration, CalibrationFilesLoadThroughTheApi) {
    open_box();
    std::ostringstream adc;
    adc << "header\n";
    for (int i = 0; i < 32; ++i)
        adc << i << ",16,16,0,0,0,0,0,0\n";
    std::ofstream("adc.csv") << adc.str();
    std::ostringstream gain;
    gain << "g\n";
    for (int e = 0; e < 960; ++e) {
        gain << e;
        for (int k = 0; k < 16; ++k)
            gain << ",1.0";
        gain << "\n";
    }
    std::ofstream("gain.csv") << gain.str();
    Stdout_Capture quiet;
    EXPECT_EQ(setADCCalibration(0, 1, "adc.csv"), SUCCESS);
    EXPECT_EQ(setADCCalibration(0, 1, "missing.csv"), FAILED);
    EXPECT_EQ(setGainCalibration(0, 1, 0, "gain.csv"), SUCCESS);
    EXPECT_EQ(setGainCalibration(0, 1, 0, "missing.csv"), FAILED);
    Log_Capture capture;
    EXPECT_EQ(setGainCalibration(0, 1, 0, nullptr), FAILED);
    EXPECT_EQ(setADCCalibration(0, 1, nullptr), FAILED);
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "setGainCalibration : no file name"));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "setADCCalibration : no file name"));
}

TEST_F(ApiConfiguration, ClearingAssignmentsAlwaysAnswersSuccess) {
    open_box();
    Stdout_Capture out;
    EXPECT_EQ(clear_all_electrode_to_bank_assignments(0, 1), SUCCESS);
    EXPECT_NE(out.take().find("Clearing not possible for channel : 191"), std::string::npos);
}

TEST_F(ApiConfiguration, IdentificationOfHeadstageAndProbe) {
    box->headstage(0).set_probe_eeprom(0x123456789ull, "PRB_1_4_0480_1");
    open_box();
    open_and_init_port(1);
    char text[64];
    Log_Capture capture;
    EXPECT_EQ(readHSPN(0, 1, text, sizeof text), SUCCESS);
    EXPECT_STREQ(text, "NP2_HS_30");
    EXPECT_TRUE(capture.contains("Reporting HS part number : NP2_HS_30"));
    EXPECT_EQ(readProbePN(0, 1, 0, text, sizeof text), SUCCESS);
    EXPECT_STREQ(text, "PRB_1_4_0480_1");
    EXPECT_TRUE(capture.contains("Reporting probe part number : PRB_1_4_0480_1"));
    uint64_t serial = 0;
    EXPECT_EQ(readProbeSN(0, 1, 0, &serial), SUCCESS);
    EXPECT_EQ(serial, 0x123456789ull);
}

TEST_F(ApiConfiguration, HeadstagePartNumberFallsBackWhenTheEepromIsBlankOrUnreadable) {
    box->headstage(0).set_headstage_eeprom(0x0305, "XYZ_HEADSTAGE");
    box->headstage(1).nack_devices = {0xA4};
    open_box();
    open_and_init_port(1);
    char text[32];
    Log_Capture capture;
    EXPECT_EQ(readHSPN(0, 1, text, sizeof text), SUCCESS);
    EXPECT_STREQ(text, "NP2_HS_30");
    EXPECT_TRUE(capture.contains("Invalid HS eeprom detected, defaulting to NP2_HS_30"));
    std::strcpy(text, "stale");
    test_support::Stderr_Capture quiet_err;
    EXPECT_EQ(readHSPN(0, 2, text, sizeof text), FAILED);
    EXPECT_STREQ(text, "NP2_HS_30");
    // A short buffer gets as much as fits, terminated.
    char small[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(readHSPN(0, 1, small, 4), SUCCESS);
    EXPECT_STREQ(small, "NP2");
}

TEST_F(ApiConfiguration, HeadstageReadOnTheTestSlotBringsThePortUpItself) {
    open_box();
    char text[32];
    Stdout_Capture quiet;
    EXPECT_EQ(readHSPN(16, 3, text, sizeof text), SUCCESS);
    EXPECT_STREQ(text, "NP2_HS_30");
    EXPECT_EQ(pauses.count(std::chrono::milliseconds(1000)), 0u);
    // Bring-up step 1 ran on port 3: serializer register 4 was written.
    EXPECT_EQ(box->headstage(2).serializer[0x04], 0x83);
}

TEST_F(ApiConfiguration, TestSignalSwitchInSimulationOnlyReports) {
    std::ofstream("rec.bin") << std::string(16, '\0');
    write_marker("MURA_NPAPI_ADAPTER_SIM", "rec.bin");
    {
        Stdout_Capture quiet;
        ASSERT_EQ(openBS(0), SUCCESS);
    }
    Stdout_Capture out;
    EXPECT_EQ(probe_set_bist_mode(1, true), SUCCESS);
    EXPECT_EQ(out.take(), "MURA_Controller_Library::set_bist_signal_mode : 1 (simulation)\n");
}

TEST_F(ApiConfiguration, TestSignalSwitchDrivesTheProbeOfItsPort) {
    open_box();
    EXPECT_EQ(probe_set_bist_mode(3, true), SUCCESS);
    EXPECT_EQ(box->headstage(2).probe_registers[0x02], 0x90);
    EXPECT_EQ(box->headstage(2).probe_registers[0x00], 0x60);
    EXPECT_EQ((box->control_word() >> 4) & 3, 2u);
    EXPECT_EQ(probe_set_bist_mode(3, false), SUCCESS);
    EXPECT_EQ(box->headstage(2).probe_registers[0x00], 0x40);
}

} // namespace
} // namespace Selvan::MURA
