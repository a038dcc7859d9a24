#include "Box_Fixture.h"
#include "CP_L2_CH_Results_Null_Writer.h"
#include "C_Async_PSB_And_RHD_Demux.h"
#include "C_Bist_Data_Path_Tests.h"
#include "C_L2_CH_Gain_Fix_Filter.h"
#include "C_Stream_Synthesizer.h"
#include "Log_Capture.h"
#include "Psb_Recordings.h"
#include "Scratch_Directory.h"

#include <gtest/gtest.h>

namespace Selvan::MURA {
namespace {

using test_support::Log_Capture;
using test_support::psb_recording;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;

class SelfTests : public test_support::Box_Fixture {
protected:
    void SetUp() override { opened_library(); }
    uint32_t uart_channel() const { return (box->control_word() >> 4) & 3; }
};

TEST_F(SelfTests, HeadstageLinkFollowsThePortsPllBit) {
    box->set_port_pll_status(0x5);
    EXPECT_TRUE(library->bist_HB(0));
    EXPECT_FALSE(library->bist_HB(1));
    EXPECT_TRUE(library->bist_HB(2));
    EXPECT_FALSE(library->bist_HB(4));
}

TEST_F(SelfTests, EepromTestNeedsBothEeproms) {
    EXPECT_TRUE(library->bist_Eeproms(1));
    box->headstage(1).nack_devices = {0xA0};
    Stderr_Capture err;
    EXPECT_FALSE(library->bist_Eeproms(1));
    box->headstage(1).nack_devices = {0xA4};
    EXPECT_FALSE(library->bist_Eeproms(1));
    Log_Capture capture;
    EXPECT_FALSE(library->bist_Eeproms(7));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR,
                                 "Exception caught during readHSPN : invalid array<T, N> subscript"));
}

TEST_F(SelfTests, I2cTestFailsOnADeadLink) {
    EXPECT_TRUE(library->bist_IIC(2));
    box->headstage(2).present = false;
    EXPECT_FALSE(library->bist_IIC(2));
}

TEST_F(SelfTests, ShiftRegisterTestFailsWhenTheUploadStatusIsNotOk) {
    Stdout_Capture quiet;
    EXPECT_TRUE(library->bist_Probe_SR(3));
    box->headstage(3).upload_status_fails = true;
    Log_Capture capture;
    EXPECT_FALSE(library->bist_Probe_SR(3));
    EXPECT_TRUE(
        capture.contains(logging::Verbosity_ERROR,
                         "Exception caught during probe configuration load : SR upload status not ok"));
}

TEST_F(SelfTests, PrbsRunsOnItsOwnPortAndReadsItsErrorCount) {
    box->headstage(2).set_prbs_error_count(3);
    library->probe_init_part_1(0); // the tunnel was last routed to port 0
    ASSERT_TRUE(library->bist_start_PBRS(2));
    EXPECT_EQ(uart_channel(), 2u);
    EXPECT_EQ(box->headstage(2).serializer[0x04], 0xA3);
    EXPECT_EQ(box->headstage(0).serializer[0x04], 0x83);
    unsigned errors = 0;
    ASSERT_TRUE(library->bist_stop_PBRS(2, errors));
    EXPECT_EQ(errors, 3u);
    errors = 0;
    EXPECT_FALSE(library->bist_stop_PBRS(4, errors));
    EXPECT_EQ(errors, 0xFFFFFFFFu);
}

TEST_F(SelfTests, PrbsStopThatFindsTheLinkStillInTestModeRaises) {
    ASSERT_TRUE(library->bist_start_PBRS(1));
    box->headstage(1).stuck_registers = {{0x80, 0x04}};
    unsigned errors = 0;
    EXPECT_THROW(library->bist_stop_PBRS(1, errors), std::runtime_error);
    EXPECT_EQ(errors, 0xFFFFFFFFu);
}

TEST_F(SelfTests, TestSignalModeDrivesTheProbeOfItsPort) {
    library->set_bist_signal_mode(1, true);
    EXPECT_EQ(uart_channel(), 1u);
    EXPECT_EQ(box->headstage(1).probe_registers[0x00], 0x60);
    EXPECT_EQ(box->headstage(1).probe_registers[0x02], 0x90);
    library->set_bist_signal_mode(1, false);
    EXPECT_EQ(box->headstage(1).probe_registers[0x00], 0x40);
    EXPECT_EQ(box->headstage(1).probe_registers[0x02], 0x00);
}

class PsbSelfTest : public SelfTests, public ::testing::WithParamInterface<int> {};

TEST_P(PsbSelfTest, PassesWithFewerThanTenCorruptedBlocks) {
    const int corrupted = GetParam();
    box->stream().set_source(
        box_model::Card_To_Host_Stream_Model::recording(psb_recording(2, corrupted), false));
    Stdout_Capture out;
    Stderr_Capture err;
    const bool passed = library->bist_PSB(2);
    const std::string printed = out.take();
    const std::string errors = err.take();
    EXPECT_EQ(passed, corrupted < 10);
    EXPECT_NE(printed.find("failed_comparison_count : " + std::to_string(corrupted) + "\n"),
              std::string::npos)
        << printed;
    EXPECT_NE(printed.find("End of Bist PSB test\n"), std::string::npos);
    size_t mismatches = 0;
    for (size_t at = errors.find("PSB test ch_data compare failed at : "); at != std::string::npos;
         at = errors.find("PSB test ch_data compare failed at : ", at + 1))
        ++mismatches;
    EXPECT_EQ(mismatches, static_cast<size_t>(corrupted));
}

INSTANTIATE_TEST_SUITE_P(Thresholds, PsbSelfTest, ::testing::Values(0, 9, 10));

TEST_F(SelfTests, PsbTestRestoresTheListenersEvenWhenItFails) {
    auto converter_stand_in = std::make_shared<demux::CP_L2_CH_Results_Null_Writer>();
    for (uint32_t port = 0; port < 4; ++port)
        library->set_NP_aqustion_listener(converter_stand_in, port, true);
    box->stream().set_source(box_model::Card_To_Host_Stream_Model::recording(psb_recording(0, 10), false));
    Stdout_Capture out;
    Stderr_Capture err;
    EXPECT_FALSE(library->bist_PSB(0));
    for (uint32_t port = 0; port < 4; ++port) {
        EXPECT_EQ(library->get_demux().get_L2_CH_Results_Listener(port).lock(),
                  library->get_gain_filter(port));
        EXPECT_EQ(library->get_gain_filter(port)->get_downstream_listener().lock(), converter_stand_in);
    }
}

TEST_F(SelfTests, PsbTestFailsWhenTheProbeCannotBeInitialised) {
    box->headstage(1).present = false;
    Stdout_Capture out;
    EXPECT_FALSE(library->bist_PSB(1));
    EXPECT_EQ(out.take().find("End of Bist PSB test"), std::string::npos);
}

class SignalSelfTest : public SelfTests {
protected:
    bool run_with_sine(double frequency_hz, uint32_t port, std::string& printed) {
        synth::Synth_Settings settings;
        settings.np_ports = {port};
        settings.rhd = false;
        settings.content.np_content = synth::Np_Content::sine;
        settings.content.sine_frequency_hz = frequency_hz;
        box->stream().set_source(box_model::Card_To_Host_Stream_Model::synthesizer(settings));
        Stdout_Capture out;
        Stderr_Capture err;
        const bool passed = library->bist_Signal(port);
        printed = out.take();
        return passed;
    }
};

TEST_F(SignalSelfTest, TestSignalInTheBandPassesAtTheFirstTrial) {
    std::string printed;
    EXPECT_TRUE(run_with_sine(1200, 1, printed));
    EXPECT_NE(printed.find("Frq check passed at trial number : 0\n"), std::string::npos);
    EXPECT_EQ(printed.find("Frq check failed"), std::string::npos);
}

TEST_F(SignalSelfTest, SignalOutsideTheBandFailsAllFiveTrials) {
    std::string printed;
    EXPECT_FALSE(run_with_sine(1000, 3, printed));
    EXPECT_EQ(printed.find("Frq check passed"), std::string::npos);
    size_t reported_pixels = 0;
    for (size_t at = printed.find("Current pixel : 0,"); at != std::string::npos;
         at = printed.find("Current pixel : 0,", at + 1))
        ++reported_pixels;
    EXPECT_EQ(reported_pixels, 5u);
}

TEST_F(SignalSelfTest, NoDataEndsEachTrialInsteadOfPumpingForever) {
    Stdout_Capture out;
    EXPECT_FALSE(library->bist_Signal(0));
}

using SimulatedSelfTests = test_support::Simulated_Library_Fixture;

TEST_F(SimulatedSelfTests, DataPathTestsPassOnTheirShippedRecordings) {
    Stdout_Capture out;
    Stderr_Capture err;
    const bool psb = library->bist_PSB(1);
    const bool signal = library->bist_Signal(3);
    const std::string printed = out.take();
    EXPECT_TRUE(psb);
    EXPECT_TRUE(signal);
    EXPECT_NE(printed.find("Frq check passed at trial number : 0"), std::string::npos)
        << printed.substr(0, 3000);
}

TEST_F(SimulatedSelfTests, ATestReplaysItsRecordingAndTheHostsComesBack) {
    test_support::Scratch_Directory scratch;
    const auto host_recording = scratch.write("host.bin", std::string(1 << 20, '\0'));
    Stdout_Capture out;
    ASSERT_TRUE(library->prepare_for_simulation_streaming(host_recording));
    EXPECT_TRUE(library->bist_PSB(0));
    EXPECT_EQ(library->get_simulation_source(), host_recording);
}

TEST_F(SimulatedSelfTests, TestSignalModeOnlyReports) {
    Stdout_Capture out;
    library->set_bist_signal_mode(2, false);
    EXPECT_EQ(out.take(), "MURA_Controller_Library::set_bist_signal_mode : 0 (simulation)\n");
}

} // namespace
} // namespace Selvan::MURA
