#include "C_MT_NP_PXI_Queue.h"
#include "Log_Capture.h"
#include "Output_Capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>

namespace Selvan::MURA::npoe_adapter {
namespace {

using demux::Channel_Block;
using Neuropixels::electrodePacket;
using test_support::Log_Capture;
using test_support::Stdout_Capture;

Channel_Block block_of(uint16_t base) {
    Channel_Block block;
    for (uint32_t c = 0; c < 384; ++c)
        block[c] = static_cast<uint16_t>((base + c) & 0x3FF);
    return block;
}

std::unique_ptr<L2_CH_Results_NP_PXI_Format_Converter> make_converter() {
    Stdout_Capture quiet;
    return std::make_unique<L2_CH_Results_NP_PXI_Format_Converter>();
}

TEST(NpConverter, ConstructorAnnouncesThePacketSize) {
    Stdout_Capture out;
    L2_CH_Results_NP_PXI_Format_Converter converter;
    EXPECT_EQ(out.take(), "L2_CH_Results_NP_PXI_Format_Converter ctor\nsizeof(m_ep)) : 10056\n");
    EXPECT_EQ(sizeof(electrodePacket), 10056u);
    EXPECT_EQ(sizeof(Neuropixels::PacketInfo), 8u);
}

TEST(NpConverter, TwelveApBlocksAndAnLfpBlockMakeOnePacket) {
    auto converter = make_converter();
    for (uint16_t k = 0; k < 12; ++k) {
        Channel_Block block = block_of(100 * k);
        converter->publish_ap_ch_data(block);
    }
    Channel_Block lfp = block_of(7);
    converter->publish_lp_ch_data(lfp);
    auto& queue = converter->get_queue();
    ASSERT_EQ(queue.element_count(), 1u);
    const electrodePacket* packet = queue.peek_xfer_buffer_from_queue();
    ASSERT_NE(packet, nullptr);
    for (uint32_t k = 0; k < 12; ++k) {
        EXPECT_EQ(packet->timestamp[k], 0u);
        EXPECT_EQ(packet->Status[k], 0u);
        for (uint32_t c = 0; c < 384; ++c)
            ASSERT_EQ(static_cast<uint16_t>(packet->apData[k][c]), (100 * k + c) & 0x3FF);
    }
    for (uint32_t c = 0; c < 384; ++c)
        ASSERT_EQ(packet->lfpData[c], static_cast<int16_t>((7 + c) & 0x3FF));
    queue.pop_packet();
    EXPECT_EQ(queue.element_count(), 0u);
    EXPECT_EQ(converter->get_lfp_packet_count(), 1u);
}

TEST(NpConverter, EarlyLfpBlockKeepsOlderSamplesInTheUnfilledSlots) {
    auto converter = make_converter();
    Channel_Block old_block = block_of(1), new_block = block_of(2), lfp = block_of(3);
    for (int k = 0; k < 12; ++k)
        converter->publish_ap_ch_data(old_block);
    converter->publish_lp_ch_data(lfp);
    for (int k = 0; k < 5; ++k)
        converter->publish_ap_ch_data(new_block);
    converter->publish_lp_ch_data(lfp);
    converter->publish_ap_ch_data(new_block);
    converter->publish_lp_ch_data(lfp);
    auto& queue = converter->get_queue();
    queue.pop_packet();
    const electrodePacket* packet = queue.peek_xfer_buffer_from_queue();
    EXPECT_EQ(packet->apData[4][0], 2);
    EXPECT_EQ(packet->apData[5][0], 1);
    EXPECT_EQ(packet->apData[11][0], 1);
    queue.pop_packet();
    packet = queue.peek_xfer_buffer_from_queue();
    EXPECT_EQ(packet->apData[0][0], 2);
}

// Feeds AP blocks in packets of twelve and returns the timestamps of the packet holding AP
// sample `first` (counted from 0) onwards.
class Timestamped_Feed {
public:
    explicit Timestamped_Feed(L2_CH_Results_NP_PXI_Format_Converter& converter)
        : m_converter(converter) {}
    void skip_to(uint64_t sample) {
        while (m_next + 12 <= sample) {
            for (int k = 0; k < 12; ++k)
                m_converter.publish_ap_ch_data(m_block);
            m_next += 12;
        }
    }
    std::array<uint32_t, 12> next_packet_timestamps() {
        for (int k = 0; k < 12; ++k)
            m_converter.publish_ap_ch_data(m_block);
        m_next += 12;
        m_converter.publish_lp_ch_data(m_block);
        auto& queue = m_converter.get_queue();
        std::array<uint32_t, 12> timestamps;
        std::copy(std::begin(queue.peek_xfer_buffer_from_queue()->timestamp),
                  std::end(queue.peek_xfer_buffer_from_queue()->timestamp), timestamps.begin());
        queue.pop_packet();
        return timestamps;
    }

private:
    L2_CH_Results_NP_PXI_Format_Converter& m_converter;
    Channel_Block m_block{};
    uint64_t m_next = 0;
};

// Timestamps are whole seconds of AP samples at 30 kHz: the first second ends exactly at
// sample 30,000.
TEST(NpConverter, TimestampsCountWholeSecondsOfApSamples) {
    auto converter = make_converter();
    Timestamped_Feed feed(*converter);
    feed.skip_to(29988);
    EXPECT_EQ(feed.next_packet_timestamps(), (std::array<uint32_t, 12>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(feed.next_packet_timestamps(), (std::array<uint32_t, 12>{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
    feed.skip_to(59988);
    EXPECT_EQ(feed.next_packet_timestamps()[11], 1u);
    EXPECT_EQ(feed.next_packet_timestamps()[0], 2u);
}

// A single-precision sum of sample periods would stop advancing at 1,024 s.
TEST(NpConverter, TimestampsKeepAdvancingBeyond1024Seconds) {
    auto converter = make_converter();
    Timestamped_Feed feed(*converter);
    const uint64_t second_1025 = 1025ull * 30000;
    feed.skip_to(second_1025 - 12);
    EXPECT_EQ(feed.next_packet_timestamps()[11], 1024u);
    EXPECT_EQ(feed.next_packet_timestamps()[0], 1025u);
    EXPECT_EQ(converter->get_ap_sample_count(), second_1025 + 12);
}

TEST(NpQueue, AcceptsWhileAtMost500AreQueuedAndReportsDropsEvery256) {
    auto converter = make_converter();
    auto& queue = converter->get_queue();
    const auto packet = std::make_unique<electrodePacket>();
    for (int i = 0; i < 501; ++i)
        ASSERT_TRUE(queue.push_packet(*packet));
    Log_Capture log;
    for (int i = 0; i < 256; ++i)
        EXPECT_FALSE(queue.push_packet(*packet));
    EXPECT_EQ(queue.element_count(), 501u);
    // The process-wide 8-bit counter passes 0 exactly once in 256 drops.
    EXPECT_EQ(log.count("MT_NP_PXI_Queue overflow"), 1u);
    queue.pop_packet();
    EXPECT_TRUE(queue.push_packet(*packet));
}

TEST(NpQueue, BlockedReaderReturnsWithoutPacketOnExit) {
    auto converter = make_converter();
    auto& queue = converter->get_queue();
    Log_Capture log;
    auto reader = std::async(std::launch::async, [&] { return queue.peek_xfer_buffer_from_queue(); });
    EXPECT_EQ(reader.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    queue.signal_exit();
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(reader.get(), nullptr);
    EXPECT_TRUE(log.contains("MT_NP_PXI_Queue::peek_xfer_buffer_from_queue signalled for exit"));
    // Exit is permanent, also with packets queued.
    const auto packet = std::make_unique<electrodePacket>();
    queue.push_packet(*packet);
    EXPECT_EQ(queue.peek_xfer_buffer_from_queue(), nullptr);
    EXPECT_TRUE(queue.exit_signalled());
}

// The exit flag is set under the queue's lock: a reader that has just found the queue empty
// cannot miss the wake-up. Repeated with readers racing the signal.
TEST(NpQueue, ExitSignalRacingAReaderIsNeverMissed) {
    for (int round = 0; round < 200; ++round) {
        MT_NP_PXI_Queue queue;
        auto reader = std::async(std::launch::async, [&] { return queue.peek_xfer_buffer_from_queue(); });
        queue.signal_exit();
        ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "round " << round;
    }
}

TEST(NpQueue, WakeReadersReleasesABlockedReaderWithoutExit) {
    MT_NP_PXI_Queue queue;
    auto reader = std::async(std::launch::async, [&] { return queue.peek_xfer_buffer_from_queue(); });
    EXPECT_EQ(reader.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    queue.wake_readers();
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(reader.get(), nullptr);
    EXPECT_FALSE(queue.exit_signalled());
    // The next read blocks again and gets the next packet.
    auto next = std::async(std::launch::async, [&] { return queue.peek_xfer_buffer_from_queue(); });
    auto packet = std::make_unique<electrodePacket>();
    packet->timestamp[0] = 42;
    queue.push_packet(*packet);
    ASSERT_EQ(next.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const electrodePacket* got = next.get();
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->timestamp[0], 42u);
}

} // namespace
} // namespace Selvan::MURA::npoe_adapter
