#include "C_MT_RHD_PXI_Queue.h"
#include "Log_Capture.h"
#include "Output_Capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

namespace Selvan::MURA::npoe_adapter {
namespace {

using demux::RHD_Frame;
using test_support::Log_Capture;
using test_support::Stdout_Capture;

RHD_Frame frame_with(uint32_t ttl_in, std::array<uint16_t, 8> auxiliary = {}) {
    RHD_Frame frame;
    frame.preamble = RHD_Frame::PREAMBLE;
    frame.auxiliary = auxiliary;
    frame.ttl_in = ttl_in;
    return frame;
}

class RhdConverter : public ::testing::Test {
protected:
    void SetUp() override {
        RHD_to_PXI_ADC_Format_Converter::reset_remembered_ttl_input();
        Stdout_Capture quiet;
        converter = std::make_unique<RHD_to_PXI_ADC_Format_Converter>();
    }
    std::pair<std::array<int16_t, 12>, uint16_t> read() {
        std::array<int16_t, 12> samples{};
        uint16_t status = 0xFFFF;
        EXPECT_TRUE(converter->read_sample_packet_to_buffer(samples.data(), &status));
        return {samples, status};
    }
    std::unique_ptr<RHD_to_PXI_ADC_Format_Converter> converter;
};

TEST_F(RhdConverter, ConstructorAnnouncesQueueAndConverter) {
    Stdout_Capture out;
    RHD_to_PXI_ADC_Format_Converter other;
    EXPECT_EQ(out.take(), "MT_RHD_PXI_Queue ctor \nRHD_to_PXI_ADC_Format_Converter ctor\n");
}

TEST_F(RhdConverter, AuxiliaryWordsBecomeSignedSamples) {
    converter->on_rhd_frame(frame_with(0, {0x0000, 0x8000, 0xFFFF, 0x7FFF, 0x8001, 1, 2, 3}));
    const auto [samples, status] = read();
    EXPECT_EQ(samples,
              (std::array<int16_t, 12>{-32768, 0, 32767, -1, 1, -32767, -32766, -32765, 0, 0, 0, 0}));
    EXPECT_EQ(status, 0);
}

TEST_F(RhdConverter, TtlInputsGoToTheStatusWithAChangeFlag) {
    Stdout_Capture out;
    converter->on_rhd_frame(frame_with(0));
    converter->on_rhd_frame(frame_with(0x00000300));
    converter->on_rhd_frame(frame_with(0x00000300));
    EXPECT_EQ(out.take(), "TTL input value change in RHD Frame : 300\n");
    EXPECT_EQ(read().second, 0x0000);
    EXPECT_EQ(read().second, 0x00C0);
    EXPECT_EQ(read().second, 0x0080);
}

// Inputs 16 and 17 are remembered like the others: a steady input there is one change only.
TEST_F(RhdConverter, SteadyHighTtlInputIsOneChangeOnly) {
    Stdout_Capture out;
    converter->on_rhd_frame(frame_with(0x00010000));
    converter->on_rhd_frame(frame_with(0x00010000));
    converter->on_rhd_frame(frame_with(0x00030200));
    EXPECT_EQ(out.take(),
              "TTL input value change in RHD Frame : 10000\nTTL input value change in RHD Frame : 30200\n");
    EXPECT_EQ(read().second, 0x4040);
    EXPECT_EQ(read().second, 0x4000);
    EXPECT_EQ(read().second, 0xC0C0);
}

TEST_F(RhdConverter, ReaderBlockedOnAnEmptyQueueReturnsOnExit) {
    Log_Capture log;
    Stdout_Capture out;
    std::array<int16_t, 12> samples{};
    uint16_t status = 7;
    auto reader = std::async(
        std::launch::async, [&] { return converter->read_sample_packet_to_buffer(samples.data(), &status); });
    EXPECT_EQ(reader.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    converter->signal_exit();
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_FALSE(reader.get());
    EXPECT_EQ(status, 7);
    EXPECT_TRUE(converter->exit_signalled());
    EXPECT_EQ(out.take(),
              "RHD_to_PXI_ADC_Format_Converter::read_sample_packet_to_buffer signalled for exit\n");
    EXPECT_TRUE(log.contains("MT_RHD_PXI_Queue::peek_xfer_buffer_from_queue signalled for exit"));
}

TEST_F(RhdConverter, WakeReadersReturnsWithoutDataAndWithoutExit) {
    Stdout_Capture out;
    std::array<int16_t, 12> samples{};
    uint16_t status = 7;
    auto reader = std::async(
        std::launch::async, [&] { return converter->read_sample_packet_to_buffer(samples.data(), &status); });
    EXPECT_EQ(reader.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    converter->wake_readers();
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_FALSE(reader.get());
    EXPECT_FALSE(converter->exit_signalled());
    EXPECT_EQ(out.take(), "");
}

// 200 ms of RHD frames, as much time as an electrode packet queue holds.
TEST_F(RhdConverter, QueueHoldsAtMost6012Packets) {
    Log_Capture log;
    for (int i = 0; i < 6012 + 256; ++i)
        converter->on_rhd_frame(frame_with(0));
    EXPECT_EQ(converter->get_queue().element_count(), 6012u);
    EXPECT_EQ(converter->get_queue().dropped_count(), 256u);
    EXPECT_EQ(log.count("MT_NP_PXI_Queue overflow"), 1u);
}

} // namespace
} // namespace Selvan::MURA::npoe_adapter
