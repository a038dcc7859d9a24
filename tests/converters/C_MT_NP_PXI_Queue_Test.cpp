#include "C_MT_NP_PXI_Queue.h"
#include "Log_Capture.h"
#include "Output_Capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <vector>

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

// Feeds whole LFP cycles as the channel stage sends them: AP samples 0 to 10, the LFP block
// (complete in the cycle's last super frame), AP sample 11; AP sample `other` is left out, or is
// `instead` when given.
void feed_cycle(L2_CH_Results_NP_PXI_Format_Converter& converter, uint64_t cycle, uint16_t base,
                int other = -1, Channel_Block* instead = nullptr) {
    for (uint32_t k = 0; k < 12; ++k) {
        const uint64_t super_frame = 12 * cycle + k;
        if (k == 11) {
            Channel_Block lfp = block_of(static_cast<uint16_t>(base + 500));
            converter.set_super_frame(super_frame);
            converter.publish_lp_ch_data(lfp);
        }
        Channel_Block ap = block_of(static_cast<uint16_t>(base + k));
        if (static_cast<int>(k) == other && !instead)
            continue;
        converter.set_super_frame(super_frame);
        converter.publish_ap_ch_data(static_cast<int>(k) == other ? *instead : ap);
    }
}

std::vector<electrodePacket> take_all(L2_CH_Results_NP_PXI_Format_Converter& converter) {
    auto& queue = converter.get_queue();
    std::vector<electrodePacket> packets;
    while (queue.element_count() > 0) {
        packets.push_back(*queue.peek_xfer_buffer_from_queue());
        queue.pop_packet();
    }
    return packets;
}

// Samples are centred (code - 512; a gain-corrected block may hold values beyond the codes,
// wrapped below 0), timestamps count floor(10 n / 3) of the super frame number n and wrap at 32
// bits, TRIGGER marks the run's first sample and ERR_COUNT the first after a jump.
TEST(NpConverter, PacketsAreWholeLfpCyclesOfCentredSamplesOnTheSampleClock) {
    auto converter = make_converter();
    feed_cycle(*converter, 0, 0);
    Channel_Block beyond_the_codes{};
    beyond_the_codes.fill(static_cast<uint16_t>(512 - 700));
    feed_cycle(*converter, 1, 40, 3, &beyond_the_codes);
    const auto packets = take_all(*converter);
    ASSERT_EQ(packets.size(), 2u);
    for (uint32_t n = 0; n < 2; ++n) {
        for (uint32_t k = 0; k < 12; ++k) {
            EXPECT_EQ(packets[n].timestamp[k], (10 * (12 * n + k)) / 3);
            EXPECT_EQ(packets[n].Status[k], n == 0 && k == 0 ? 1 : 0);
            for (uint32_t c = 0; c < 384; ++c) {
                const int expected =
                    n == 1 && k == 3 ? -700 : static_cast<int>((40 * n + k + c) & 0x3FF) - 512;
                ASSERT_EQ(packets[n].apData[k][c], expected) << "packet " << n << " sample " << k;
            }
        }
        for (uint32_t c = 0; c < 384; ++c)
            ASSERT_EQ(packets[n].lfpData[c], static_cast<int16_t>(((40 * n + 500 + c) & 0x3FF) - 512));
    }
    const uint64_t late_cycle = (uint64_t{1} << 32) * 3 / 10 / 12;
    feed_cycle(*converter, late_cycle, 0);
    const auto late = take_all(*converter);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].timestamp[11], static_cast<uint32_t>(10 * (12 * late_cycle + 11) / 3));
    EXPECT_EQ(late[0].Status[0], 4);
    converter->begin_run();
    feed_cycle(*converter, 0, 0);
    EXPECT_EQ(take_all(*converter).at(0).Status[0], 1) << "a new run begins with TRIGGER";
}

// A cycle of which a super frame never came makes no packet; the next packet carries ERR_COUNT
// and every missing super frame is counted, in whole cycles, with the gaps.
TEST(NpConverter, AnIncompleteCycleGoesNowhereAndTheNextPacketMarksTheGap) {
    auto converter = make_converter();
    feed_cycle(*converter, 0, 0);
    feed_cycle(*converter, 1, 0, 5);
    feed_cycle(*converter, 2, 0);
    feed_cycle(*converter, 5, 0);
    feed_cycle(*converter, 6, 0);
    const auto packets = take_all(*converter);
    ASSERT_EQ(packets.size(), 4u);
    EXPECT_EQ(packets[1].timestamp[0], 10u * 24 / 3);
    EXPECT_EQ(packets[1].Status[0], 4);
    EXPECT_EQ(packets[2].timestamp[0], 10u * 60 / 3);
    EXPECT_EQ(packets[2].Status[0], 4);
    EXPECT_EQ(packets[3].Status[0], 0);
    EXPECT_EQ(converter->get_super_frames_lost(), 12u + 24u);
    EXPECT_EQ(converter->get_gap_count(), 2u);
}

// The sync timeline gives each sample its SYNC bit: the routed input line's level at that sample
// (frames not delivered keep the level before them), or the clock's square wave.
TEST(NpConverter, SyncBitsFollowTheRoutedSource) {
    auto timeline =
        std::make_shared<C_Sync_Timeline>(C_Sync_Timeline::Routing{C_Sync_Timeline::Source::input, 9, 8});
    for (uint64_t sample = 0; sample < 24; ++sample) {
        if (sample != 7)
            timeline->record(sample, (sample >= 5 && sample < 17 ? 1u << 9 : 0) | 0x100);
    }
    Stdout_Capture quiet;
    L2_CH_Results_NP_PXI_Format_Converter converter(timeline);
    feed_cycle(converter, 0, 0);
    feed_cycle(converter, 1, 0);
    timeline->set_routing({C_Sync_Timeline::Source::clock, 9, 8});
    feed_cycle(converter, 2, 0);
    timeline->set_routing({C_Sync_Timeline::Source::none, 9, 8});
    feed_cycle(converter, 3, 0);
    const auto packets = take_all(converter);
    ASSERT_EQ(packets.size(), 4u);
    for (uint64_t n = 0; n < 48; ++n) {
        const uint16_t status = packets[n / 12].Status[n % 12];
        bool expected = false;
        if (n < 24)
            expected = n >= 5 && n < 17;
        else if (n < 36)
            expected = n % 8 < 4;
        EXPECT_EQ((status & 64) != 0, expected) << "sample " << n;
    }
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
