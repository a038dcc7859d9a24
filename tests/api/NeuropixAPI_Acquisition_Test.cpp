#include "Api_Fixture.h"
#include "C_Stream_Synthesizer.h"

#include <gmock/gmock.h>

#include <thread>

namespace Selvan::MURA {
namespace {

using namespace Neuropixels;
using test_support::Log_Capture;
using test_support::Stdout_Capture;

class ApiAcquisition : public test_support::Api_Fixture {
protected:
    // Hardware mode on a box model whose stream sends neural data of all four ports.
    void open_streaming_box() {
        synth::Synth_Settings settings;
        settings.content.np_content = synth::Np_Content::neural;
        box->stream().set_source(box_model::Card_To_Host_Stream_Model::synthesizer(settings));
        use_box_model();
        Stdout_Capture quiet;
        ASSERT_EQ(openBS(0), SUCCESS);
    }
    // Hardware mode on a box model that sends nothing.
    void open_silent_box() {
        use_box_model();
        Stdout_Capture quiet;
        ASSERT_EQ(openBS(0), SUCCESS);
    }
};

TEST_F(ApiAcquisition, ConcurrentStartsStartOnePumpThread) {
    open_silent_box();
    Log_Capture capture(1);
    std::vector<std::thread> starters;
    for (int port = 1; port <= 4; ++port)
        starters.emplace_back([port] { EXPECT_EQ(start_acquisition(0, port), SUCCESS); });
    for (auto& starter : starters)
        starter.join();
    ASSERT_TRUE(capture.wait_for(": Main pump thread started"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(capture.count_containing(": Main pump thread started"), 1u);
    Stdout_Capture quiet;
    EXPECT_EQ(stop_acquisition(0, 1), SUCCESS);
}

// The pump thread asks for above-normal priority. Windows grants it to any process; on Linux
// lowering the nice value needs the privilege, and a refusal is only logged.
TEST_F(ApiAcquisition, ThePumpThreadRaisesItsPriorityOrLogsWhyNot) {
    open_silent_box();
    Log_Capture capture(1);
    ASSERT_EQ(start_acquisition(0, 1), SUCCESS);
    ASSERT_TRUE(capture.wait_for("ThreadPriority")); // in both lines
    const bool raised =
        capture.contains(1, "ThreadPriority of main pump increased to THREAD_PRIORITY_ABOVE_NORMAL");
#if defined(_WIN32)
    EXPECT_TRUE(raised);
#else
    EXPECT_TRUE(raised || capture.contains(1, "SetThreadPriority failed : 13"));
#endif
    Stdout_Capture quiet;
    EXPECT_EQ(stop_acquisition(0, 1), SUCCESS);
}

TEST_F(ApiAcquisition, StartEnablesEveryStreamAndFiresTheSoftTrigger) {
    open_silent_box();
    box->clear_access_logs();
    ASSERT_EQ(start_acquisition(0, 1), SUCCESS);
    const auto writes = box->register_writes_from(0, 0);
    ASSERT_GE(writes.size(), 3u);
    EXPECT_EQ(writes[0].value & 0xF, 0xFu);
    EXPECT_EQ(writes[1].value & 0x200, 0x200u);
    EXPECT_EQ(writes[2].value & 0x200, 0u);
    Stdout_Capture quiet;
    EXPECT_EQ(stop_acquisition(0, 1), SUCCESS);
    EXPECT_EQ(box->control_word() & 0xF, 0u);
}

TEST_F(ApiAcquisition, StopWithoutStartOnlyLogsItsArguments) {
    Log_Capture capture(logging::Verbosity_INFO);
    EXPECT_EQ(stop_acquisition(0, 2), SUCCESS);
    EXPECT_EQ(capture.texts(), (std::vector<std::string>{"{ stop_acquisition", "slotID : 0, portID : 2",
                                                         "} stop_acquisition"}));
}

TEST_F(ApiAcquisition, ReadsDeliverPacketsOfEveryPort) {
    open_streaming_box();
    ASSERT_EQ(start_acquisition(0, 1), SUCCESS);
    std::vector<electrodePacket> packets(20);
    for (int port = 1; port <= 4; ++port) {
        Stdout_Capture quiet;
        EXPECT_EQ(test_support::poll_electrode_packets(port, packets.data(), 20), 20);
    }
    int available = -1, headroom = -1;
    EXPECT_EQ(getElectrodeDataFifoState(0, 1, 0, &available, &headroom), SUCCESS);
    EXPECT_GE(available, 0);
    EXPECT_EQ(available + headroom, 500);
    Stdout_Capture quiet;
    EXPECT_EQ(stop_acquisition(0, 1), SUCCESS);
}

TEST_F(ApiAcquisition, ReadArgumentsOutsideThePortsFail) {
    open_silent_box();
    electrodePacket packet;
    int actual = 9;
    EXPECT_EQ(readElectrodeData(0, 1, 0, &packet, &actual, 0), SUCCESS);
    EXPECT_EQ(actual, 0);
    actual = 9;
    EXPECT_EQ(readElectrodeData(0, 5, 0, &packet, &actual, 1), FAILED);
    EXPECT_EQ(actual, 0);
    EXPECT_EQ(readElectrodeData(0, 0, 0, &packet, &actual, 1), FAILED);
    int available = -1, headroom = -1;
    EXPECT_EQ(getElectrodeDataFifoState(0, 0, 0, &available, &headroom), FAILED);
    EXPECT_EQ(getElectrodeDataFifoState(0, 2, 0, &available, &headroom), SUCCESS);
    EXPECT_EQ(available, 0);
    EXPECT_EQ(headroom, 500);
}

// Reads return at once with what is queued, as hosts that poll the FIFO expect: a port whose
// probe sends nothing answers 0 packets at once, holding up no reader, while the others deliver;
// the ADC packets likewise.
TEST_F(ApiAcquisition, ReadsNeverWaitAPortThatSendsNothingHoldsUpNoReader) {
    synth::Synth_Settings settings;
    settings.np_ports = {0, 1, 3};
    settings.rhd_stream_count = 0;
    box->stream().set_source(box_model::Card_To_Host_Stream_Model::synthesizer(settings));
    use_box_model();
    Stdout_Capture quiet;
    ASSERT_EQ(openBS(0), SUCCESS);
    ASSERT_EQ(start_acquisition(0, 1), SUCCESS);
    std::vector<electrodePacket> packets(20);
    EXPECT_EQ(test_support::poll_electrode_packets(1, packets.data(), 20), 20);
    int actual = -1;
    EXPECT_EQ(readElectrodeData(0, 3, 0, packets.data(), &actual, 20), SUCCESS);
    EXPECT_EQ(actual, 0);
    EXPECT_EQ(test_support::poll_electrode_packets(4, packets.data(), 20), 20);
    PacketInfo info[4];
    int16_t data[48];
    EXPECT_EQ(test_support::poll_adc_packets(info, data, 4), 4);
    EXPECT_EQ(stop_acquisition(0, 1), SUCCESS);
    EXPECT_EQ(readElectrodeData(0, 3, 0, packets.data(), &actual, 20), SUCCESS);
    EXPECT_EQ(actual, 0);
}

TEST_F(ApiAcquisition, AdcReadRefusesFewerThanTwelveChannels) {
    open_streaming_box();
    PacketInfo info[2];
    int16_t data[24];
    int count = -1;
    EXPECT_EQ(ADC_readPackets(0, info, data, 11, 2, &count), FAILED);
    EXPECT_EQ(count, 0);
}

TEST_F(ApiAcquisition, AdcPacketsArriveWithTheirStatus) {
    open_streaming_box();
    ASSERT_EQ(start_acquisition(0, 1), SUCCESS);
    PacketInfo info[8];
    for (auto& entry : info)
        entry = {77, 77, 77};
    int16_t data[96];
    EXPECT_EQ(test_support::poll_adc_packets(info, data, 8), 8);
    // The RHD frames' timestamps count their samples: the electrode packets' 100 kHz clock.
    for (uint32_t k = 0; k < 8; ++k)
        EXPECT_EQ(info[k].Timestamp, 10 * k / 3);
    EXPECT_EQ(info[7].payloadlength, 0u);
    Stdout_Capture quiet;
    EXPECT_EQ(stop_acquisition(0, 1), SUCCESS);
}

TEST_F(ApiAcquisition, AFailingDeviceEndsThePumpAndStopDoesNotWait) {
    open_streaming_box();
    box->stream().set_read_fails(true);
    Log_Capture capture(1);
    ASSERT_EQ(start_acquisition(0, 2), SUCCESS);
    EXPECT_TRUE(capture.wait_for("error in main pump thread (0,2)"));
    Stdout_Capture quiet;
    EXPECT_EQ(stop_acquisition(0, 2), SUCCESS);
    EXPECT_FALSE(capture.contains("Waiting main pump to stop. (0)"));
}

TEST_F(ApiAcquisition, ThroughputIsReportedOnTheFirstReadOfAPort) {
    open_streaming_box();
    ASSERT_EQ(start_acquisition(0, 1), SUCCESS);
    electrodePacket packet;
    Stdout_Capture out;
    test_support::poll_electrode_packets(4, &packet, 1);
    test_support::poll_electrode_packets(4, &packet, 1);
    const std::string printed = out.take();
    EXPECT_NE(printed.find("1 electrode packet transferred. NP port : 3, data : "), std::string::npos);
    EXPECT_EQ(printed.find("electrode packet transferred"), printed.rfind("electrode packet transferred"));
    Stdout_Capture quiet;
    EXPECT_EQ(stop_acquisition(0, 1), SUCCESS);
}

// A host that exits while acquisition runs must neither abort nor hang.
TEST_F(ApiAcquisition, ProcessExitDuringAcquisitionEndsCleanly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            open_streaming_box();
            start_acquisition(0, 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace Selvan::MURA
