#include "Api_Fixture.h"
#include "C_Stream_Synthesizer.h"
#include "Psb_Recordings.h"

#include <gtest/gtest.h>

namespace Selvan::MURA {
namespace {

using namespace Neuropixels;
using test_support::Log_Capture;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;

class ApiSelfTests : public test_support::Api_Fixture {
protected:
    void open_box() {
        use_box_model();
        Stdout_Capture quiet;
        ASSERT_EQ(openBS(0), SUCCESS);
    }
};

TEST_F(ApiSelfTests, LinkEepromAndI2cTests) {
    box->set_port_pll_status(0xB);
    box->headstage(1).nack_devices = {0xA0};
    box->headstage(3).present = false;
    open_box();
    Stderr_Capture err;
    Log_Capture capture;
    EXPECT_EQ(bistHB(0, 1, 0), SUCCESS);
    EXPECT_EQ(bistHB(0, 3, 0), NO_LOCK);
    EXPECT_EQ(bistEEPROM(0, 1), SUCCESS);
    EXPECT_EQ(bistEEPROM(0, 2), IIC_ERROR);
    EXPECT_EQ(bistI2CMM(0, 1, 0), SUCCESS);
    EXPECT_EQ(bistI2CMM(0, 4, 0), IIC_ERROR);
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "bistI2CMM : the self test failed on port 4"));
    EXPECT_TRUE(capture.contains("{ bistHB"));
    EXPECT_TRUE(capture.contains("{ bist_HB"));
}

TEST_F(ApiSelfTests, ShiftRegisterTest) {
    box->headstage(2).upload_status_fails = true;
    open_box();
    Stdout_Capture quiet;
    EXPECT_EQ(bistSR(0, 1, 0), SUCCESS);
    EXPECT_EQ(bistSR(0, 3, 0), ERROR_SR_CHAIN_1);
}

TEST_F(ApiSelfTests, PrbsReportsTheErrorCount) {
    box->headstage(0).set_prbs_error_count(0);
    box->headstage(1).set_prbs_error_count(17);
    open_box();
    int errors = -5;
    EXPECT_EQ(bistStartPRBS(0, 1), SUCCESS);
    EXPECT_EQ(bistStopPRBS(0, 1, &errors), SUCCESS);
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(bistStartPRBS(0, 2), SUCCESS);
    EXPECT_EQ(bistStopPRBS(0, 2, &errors), SUCCESS);
    EXPECT_EQ(errors, 17);
    // A stop that cannot bring the link back still reports, and never throws into the host.
    EXPECT_EQ(bistStartPRBS(0, 2), SUCCESS);
    box->headstage(1).stuck_registers = {{0x90, 0x04}};
    Log_Capture capture;
    EXPECT_EQ(bistStopPRBS(0, 2, &errors), FAILED);
    EXPECT_EQ(errors, -1);
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR,
                                 "bistStopPRBS : exception caught : stop_pbrs_test : Unexpected response 2"));
    EXPECT_EQ(bistStartPRBS(0, 5), WRONG_PORT);
}

TEST_F(ApiSelfTests, AcquisitionDeliversAgainAfterAFailedDataPathTest) {
    // Ten spoiled blocks fail the test.
    box->stream().set_source(
        box_model::Card_To_Host_Stream_Model::recording(test_support::psb_recording(0, 10), false));
    open_box();
    {
        Stdout_Capture quiet;
        Stderr_Capture err;
        EXPECT_EQ(bistPSB(0, 1, 0), BIST_ERROR);
    }
    synth::Synth_Settings settings;
    settings.content.np_content = synth::Np_Content::neural;
    box->stream().set_source(box_model::Card_To_Host_Stream_Model::synthesizer(settings));
    ASSERT_EQ(start_acquisition(0, 1), SUCCESS);
    std::vector<electrodePacket> packets(5);
    Stdout_Capture quiet;
    EXPECT_EQ(test_support::poll_electrode_packets(1, packets.data(), 5), 5);
    EXPECT_EQ(test_support::poll_electrode_packets(2, packets.data(), 5), 5);
    EXPECT_EQ(stop_acquisition(0, 1), SUCCESS);
}

TEST_F(ApiSelfTests, SimulatedPsbTestReplaysTheShippedRecording) {
    std::ofstream("host.bin", std::ios::binary) << std::string(1 << 20, '\0');
    write_marker("MURA_NPAPI_ADAPTER_SIM", "host.bin");
    Stdout_Capture out;
    Stderr_Capture err;
    ASSERT_EQ(openBS(0), SUCCESS);
    EXPECT_EQ(bistPSB(0, 2, 0), SUCCESS);
    EXPECT_NE(out.take().find("End of Bist PSB test"), std::string::npos);
}

TEST_F(ApiSelfTests, ListedButUnavailableTestsSucceedWithoutDoingAnything) {
    Log_Capture capture;
    EXPECT_EQ(bistNoise(0, 2, 0), SUCCESS);
    EXPECT_EQ(HSTestPCLK(0, 2), SUCCESS);
    EXPECT_EQ(capture.count("2"), 2u);
}

// The self tests a host runs at detection pass on the virtual box, which sends the PSB test
// pattern and the test signal when a probe is set up for them; with its fault switches on, each
// fails with its own code.
TEST_F(ApiSelfTests, EverySelfTestPassesOnTheVirtualBoxAndFailsWithItsFault) {
    const auto run_all = [](std::vector<NP_ErrorCode> expected, int expected_prbs_errors) {
        Stdout_Capture quiet;
        Stderr_Capture err;
        ASSERT_EQ(openBS(0), SUCCESS);
        int prbs_errors = -1;
        const NP_ErrorCode start_prbs = bistStartPRBS(0, 2);
        const NP_ErrorCode stop_prbs = bistStopPRBS(0, 2, &prbs_errors);
        std::vector<NP_ErrorCode> codes{bistBS(0),           bistHB(0, 2, 0), bistEEPROM(0, 2),
                                        bistI2CMM(0, 2, 0),  bistSR(0, 2, 0), bistPSB(0, 2, 0),
                                        bistSignal(0, 2, 0), start_prbs,      stop_prbs};
        EXPECT_EQ(codes, expected);
        EXPECT_EQ(prbs_errors, expected_prbs_errors);
        ASSERT_EQ(closeBS(0), SUCCESS);
    };
    write_marker("MURA_NPAPI_ADAPTER_SETTINGS", "device = virtual\nvirtual_content = ramp");
    run_all({SUCCESS, SUCCESS, SUCCESS, SUCCESS, SUCCESS, SUCCESS, SUCCESS, SUCCESS, SUCCESS}, 0);
    write_marker("MURA_NPAPI_ADAPTER_SETTINGS", "device = virtual\nvirtual_content = ramp\n"
                                                "virtual_faults = psb, signal, prbs, sr, eeprom");
    run_all(
        {SUCCESS, SUCCESS, IIC_ERROR, SUCCESS, ERROR_SR_CHAIN_1, BIST_ERROR, BIST_ERROR, SUCCESS, SUCCESS},
        7);
    write_marker("MURA_NPAPI_ADAPTER_SETTINGS",
                 "device = virtual\nvirtual_content = ramp\nvirtual_faults = i2c");
    Stdout_Capture quiet;
    Stderr_Capture err;
    ASSERT_EQ(openBS(0), SUCCESS);
    EXPECT_EQ(bistI2CMM(0, 3, 0), IIC_ERROR);
}

} // namespace
} // namespace Selvan::MURA
