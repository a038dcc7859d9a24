#include "CP_L1_ADC_TO_Channel.h"
#include "NP_PSB_Raw_Data_Demuxer.h"
#include "Output_Capture.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace Selvan::MURA::demux {
namespace {

using test_support::Stderr_Capture;
using test_support::Stdout_Capture;

struct Recording_L1 : I_L1_Demux_ADC_Results {
    void publish_adc_data(const ADC_Frame& adc) override { frames.push_back(adc); }
    void reset_and_resync_counters() override {}
    std::vector<ADC_Frame> frames;
};

using Value_Of = std::function<uint16_t(uint32_t frame, uint32_t element)>;

// One super frame in block form: word W(lane) of row `minor` of frame f carries element
// minor + 5 * lane under its lane tag; the first row's W0 carries the start bit.
void append_super_frame(std::vector<uint8_t>& bytes, const Value_Of& value, bool start_bit = true) {
    for (uint32_t frame = 0; frame < 13; ++frame) {
        for (uint32_t minor = 0; minor < 5; ++minor) {
            for (uint32_t lane = 0; lane < 7; ++lane) {
                uint16_t word = static_cast<uint16_t>(((lane + 1) << 12) | value(frame, minor + 5 * lane));
                if (start_bit && frame == 0 && minor == 0 && lane == 0)
                    word |= 0x0800;
                bytes.push_back(static_cast<uint8_t>(word));
                bytes.push_back(static_cast<uint8_t>(word >> 8));
            }
        }
    }
}

uint16_t distinct_value(uint32_t super_frame, uint32_t frame, uint32_t element) {
    return static_cast<uint16_t>((super_frame * 455 + frame * 35 + element) & 0x3FF);
}

class PsbBlockDecoding : public ::testing::Test {
protected:
    Recording_L1 listener;
    NP_PSB_Raw_Data_Demuxer demuxer{listener};
};

TEST_F(PsbBlockDecoding, RejectsBlocksThatAreNotWholeSuperFrames) {
    std::vector<uint8_t> bytes(1000, 0);
    Stderr_Capture err;
    demuxer.feed_psb_raw_data_block_buffer(bytes.data(), 909);
    demuxer.feed_psb_raw_data_block_buffer(bytes.data(), 1000);
    EXPECT_EQ(err.take(), "Buffer size should contain at least (13 * 35) = 455 words\n"
                          "Buffer size should divisible with 455 words\n");
    EXPECT_TRUE(listener.frames.empty());
}

TEST_F(PsbBlockDecoding, TwoSuperFramesGiveTwentySixFramesWithLanesAndRowsInPlace) {
    std::vector<uint8_t> bytes;
    for (uint32_t sf = 0; sf < 2; ++sf)
        append_super_frame(bytes, [sf](uint32_t f, uint32_t e) { return distinct_value(sf, f, e); });
    ASSERT_EQ(bytes.size(), 1820u);
    Stderr_Capture err;
    demuxer.feed_psb_raw_data_block_buffer(bytes.data(), 1820);
    EXPECT_EQ(err.take(), "");
    ASSERT_EQ(listener.frames.size(), 26u);
    for (uint32_t i = 0; i < 26; ++i) {
        for (uint32_t e = 0; e < 35; ++e)
            ASSERT_EQ(listener.frames[i][e], distinct_value(i / 13, i % 13, e))
                << "frame " << i << " element " << e;
    }
    EXPECT_EQ(demuxer.get_decoded_super_frame_count(), 2u);
}

struct Block_Log : I_L2_Demux_CH_Results {
    void publish_ap_ch_data(Channel_Block& block) override { blocks.push_back(block); }
    void publish_lp_ch_data(Channel_Block& block) override { blocks.push_back(block); }
    std::vector<Channel_Block> blocks;
};

// Super frames whose frame counters run on go to the channel stage in one piece; one with a
// jump inside goes frame by frame. Either way blocks and messages are those of the frames
// published one at a time.
TEST(PsbToChannels, WholeSuperFramesGiveTheBlocksAndMessagesOfSingleFrames) {
    auto counter_of = [](uint32_t sf, uint32_t f) { return 13 * sf + f + (sf == 3 && f >= 5 ? 40 : 0); };
    auto value = [&](uint32_t sf, uint32_t f, uint32_t e) -> uint16_t {
        if (e == 33)
            return static_cast<uint16_t>(counter_of(sf, f) >> 10);
        if (e == 34)
            return static_cast<uint16_t>(counter_of(sf, f) & 0x3FF);
        return distinct_value(sf, f, e);
    };
    std::vector<uint8_t> bytes;
    for (uint32_t sf = 0; sf < 6; ++sf)
        append_super_frame(bytes, [&, sf](uint32_t f, uint32_t e) { return value(sf, f, e); });
    auto decoded = std::make_shared<Block_Log>();
    CP_L1_ADC_TO_Channel stage;
    stage.set_l2_ch_result_listener(decoded);
    NP_PSB_Raw_Data_Demuxer demuxer{stage};
    Stderr_Capture decoding_err;
    demuxer.feed_psb_raw_data_block_buffer(bytes.data(), static_cast<uint32_t>(bytes.size()));
    const std::string messages = decoding_err.take();

    auto reference = std::make_shared<Block_Log>();
    CP_L1_ADC_TO_Channel single_frames;
    single_frames.set_l2_ch_result_listener(reference);
    Stderr_Capture reference_err;
    for (uint32_t sf = 0; sf < 6; ++sf) {
        for (uint32_t f = 0; f < 13; ++f) {
            ADC_Frame adc;
            for (uint32_t e = 0; e < 35; ++e)
                adc[e] = value(sf, f, e);
            single_frames.publish_adc_data(adc);
        }
    }
    EXPECT_EQ(messages, reference_err.take());
    EXPECT_NE(messages, "");
    EXPECT_EQ(decoded->blocks, reference->blocks);
    EXPECT_EQ(stage.get_published_frame_count(), 78u);
}

TEST_F(PsbBlockDecoding, MissingStartBitDiscardsTheRestOfTheBlock) {
    std::vector<uint8_t> bytes;
    append_super_frame(bytes, [](uint32_t f, uint32_t e) { return distinct_value(0, f, e); });
    append_super_frame(
        bytes, [](uint32_t f, uint32_t e) { return distinct_value(1, f, e); }, false);
    append_super_frame(bytes, [](uint32_t f, uint32_t e) { return distinct_value(2, f, e); });
    Stderr_Capture err;
    demuxer.feed_psb_raw_data_block_buffer(bytes.data(), static_cast<uint32_t>(bytes.size()));
    EXPECT_EQ(err.take(), "Super frame align failure\n");
    EXPECT_EQ(listener.frames.size(), 13u);
    EXPECT_EQ(demuxer.get_decoded_super_frame_count(), 1u);
}

TEST_F(PsbBlockDecoding, WrongLaneTagIsReportedOnceAndItsValueStillUsed) {
    std::vector<uint8_t> bytes;
    append_super_frame(bytes, [](uint32_t, uint32_t e) { return static_cast<uint16_t>(e + 100); });
    // W3 of frame 4, row 1: tag 0x4 becomes 0x9.
    const size_t offset = 2 * (7 * (5 * 4 + 1) + 3);
    bytes[offset + 1] = static_cast<uint8_t>((bytes[offset + 1] & 0x0F) | 0x90);
    Stderr_Capture err;
    demuxer.feed_psb_raw_data_block_buffer(bytes.data(), 910);
    EXPECT_EQ(err.take(), "Warning shift reg mismatch\n");
    ASSERT_EQ(listener.frames.size(), 13u);
    EXPECT_EQ(listener.frames[4][1 + 5 * 3], 116);
}

TEST_F(PsbBlockDecoding, ValuesAreTheLowTenBitsOfTheWord) {
    std::vector<uint8_t> bytes;
    append_super_frame(bytes, [](uint32_t, uint32_t) { return uint16_t{0}; });
    // W0 of row 2 in frame 0: 0x1BFF = tag 1, bit 11, bit 10 and value 0x3FF.
    bytes[2 * 7 * 2] = 0xFF;
    bytes[2 * 7 * 2 + 1] = 0x1B;
    demuxer.feed_psb_raw_data_block_buffer(bytes.data(), 910);
    EXPECT_EQ(listener.frames[0][2], 0x3FF);
}

TEST_F(PsbBlockDecoding, ResetSyncDoesNotAffectBlockDecoding) {
    std::vector<uint8_t> bytes;
    append_super_frame(bytes, [](uint32_t f, uint32_t e) { return distinct_value(0, f, e); });
    demuxer.reset_sync();
    demuxer.feed_psb_raw_data_block_buffer(bytes.data(), 910);
    ASSERT_EQ(listener.frames.size(), 13u);
    EXPECT_EQ(listener.frames[12][34], distinct_value(0, 12, 34));
}

// Word-serial form: six beats of five words per frame; each word carries the sync bit in bit 15
// and a 2-bit slice of every lane, most significant slice first. The sync bits of beat 0 are
// 1, 0, 1, 0, 0; beat 5 is all zero.
std::vector<uint16_t> serial_frame(const ADC_Frame& values, uint32_t truncate_after = 30) {
    std::vector<uint16_t> words;
    const int sync_bits[5] = {1, 0, 1, 0, 0};
    for (uint32_t beat = 0; beat < 6; ++beat) {
        for (uint32_t j = 0; j < 5; ++j) {
            uint16_t word = beat == 0 && sync_bits[j] ? 0x8000 : 0;
            for (uint32_t lane = 0; lane < 7 && beat < 5; ++lane) {
                const uint16_t slice = (values[beat + 5 * lane] >> (2 * (4 - j))) & 0x3;
                word |= static_cast<uint16_t>(slice << (12 - 2 * lane));
            }
            words.push_back(word);
        }
    }
    words.resize(truncate_after);
    return words;
}

ADC_Frame frame_of(uint32_t seed) {
    ADC_Frame frame{};
    for (uint32_t e = 0; e < 35; ++e)
        frame[e] = static_cast<uint16_t>((seed * 131 + e * 29) & 0x3FF);
    return frame;
}

TEST_F(PsbBlockDecoding, SerialEntryDecodesFramesOnceInSync) {
    std::vector<uint16_t> words = {0x1234, 0x0555, 0x0AAA};
    for (uint32_t i = 0; i < 3; ++i) {
        const auto frame = serial_frame(frame_of(i));
        words.insert(words.end(), frame.begin(), frame.end());
    }
    Stdout_Capture out;
    Stderr_Capture err;
    for (uint16_t word : words)
        demuxer.feed_psb_raw_data(word);
    EXPECT_EQ(err.take(), "");
    EXPECT_EQ(out.take(), "Initial PSB Frame sync aquired\n");
    ASSERT_EQ(listener.frames.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(listener.frames[i], frame_of(i));
    EXPECT_EQ(demuxer.get_sync_pattern_count(), 3u);
}

TEST_F(PsbBlockDecoding, EarlySyncPatternRealignsWithResyncMessages) {
    std::vector<uint16_t> words = serial_frame(frame_of(1), 17);
    const auto next = serial_frame(frame_of(2));
    words.insert(words.end(), next.begin(), next.end());
    Stdout_Capture out;
    for (uint16_t word : words)
        demuxer.feed_psb_raw_data(word);
    EXPECT_EQ(out.take(), "Initial PSB Frame sync aquired\nResync_1\nResync_2\n");
    ASSERT_EQ(listener.frames.size(), 1u);
    EXPECT_EQ(listener.frames[0], frame_of(2));
}

TEST_F(PsbBlockDecoding, SerialEntryWaitsForSyncAgainAfterReset) {
    const auto words = serial_frame(frame_of(5));
    Stdout_Capture out;
    for (uint16_t word : words)
        demuxer.feed_psb_raw_data(word);
    demuxer.reset_sync();
    for (uint16_t word : words)
        demuxer.feed_psb_raw_data(word);
    // The beat counter stood still while out of sync, so the new sync realigns it.
    EXPECT_EQ(out.take(), "Initial PSB Frame sync aquired\nInitial PSB Frame sync aquired\nResync_2\n");
    EXPECT_EQ(listener.frames.size(), 2u);
}

} // namespace
} // namespace Selvan::MURA::demux
