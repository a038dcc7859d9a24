#include "CP_L1_ADC_TO_Channel.h"
#include "CP_L2_CH_Results_Null_Writer.h"
#include "Output_Capture.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace Selvan::MURA::demux {
namespace {

using test_support::Stderr_Capture;
using test_support::Stdout_Capture;

struct Recording_L2 : I_L2_Demux_CH_Results {
    void publish_ap_ch_data(Channel_Block& block) override { ap.push_back(block); }
    void publish_lp_ch_data(Channel_Block& block) override { lfp.push_back(block); }
    void begin_batch() override { brackets += '('; }
    void end_batch() override { brackets += ')'; }
    std::vector<Channel_Block> ap;
    std::vector<Channel_Block> lfp;
    std::string brackets;
};

ADC_Frame frame_with_counter(uint32_t counter, uint16_t sample_value = 0) {
    ADC_Frame adc{};
    for (uint32_t i = 0; i < 32; ++i)
        adc[i] = sample_value;
    adc[33] = static_cast<uint16_t>((counter >> 10) & 0x3FF);
    adc[34] = static_cast<uint16_t>(counter & 0x3FF);
    return adc;
}

class AdcToChannel : public ::testing::Test {
protected:
    void SetUp() override { stage.set_l2_ch_result_listener(listener); }
    std::shared_ptr<Recording_L2> listener = std::make_shared<Recording_L2>();
    CP_L1_ADC_TO_Channel stage;
};

TEST_F(AdcToChannel, FirstFrameCountedFromZeroIsQuiet) {
    Stdout_Capture out;
    Stderr_Capture err;
    stage.publish_adc_data(frame_with_counter(0));
    stage.publish_adc_data(frame_with_counter(1));
    EXPECT_EQ(err.take(), "");
    EXPECT_EQ(out.take(), "");
    EXPECT_EQ(stage.get_published_frame_count(), 2u);
}

TEST_F(AdcToChannel, FirstFrameWithAnotherCounterReportsBothDiscontinuities) {
    Stderr_Capture err;
    stage.publish_adc_data(frame_with_counter(5));
    EXPECT_EQ(err.take(),
              "check_frame_number_continuity failed, current counter (two part) : 0 5, prev counter : "
              "4294967295\n"
              " stream DW counter discontiutiy. Prev DW counter : 4294967295, current DW counter : 5\n");
}

TEST_F(AdcToChannel, TwentyBitRollOverExtendsTheCounterWithoutDiscontinuity) {
    {
        Stderr_Capture first;
        stage.publish_adc_data(frame_with_counter(0xFFFFF));
    }
    Stdout_Capture out;
    Stderr_Capture err;
    stage.publish_adc_data(frame_with_counter(0));
    stage.publish_adc_data(frame_with_counter(1));
    EXPECT_EQ(err.take(), "");
    EXPECT_EQ(out.take(),
              "frame_number rolled : 0, prev count : 1048575\nIncrementing m_three_word_counter_high_part\n");
}

TEST_F(AdcToChannel, CounterJumpIsReportedAndTheNewValueAdopted) {
    {
        Stderr_Capture first;
        stage.publish_adc_data(frame_with_counter(0));
    }
    Stderr_Capture err;
    stage.publish_adc_data(frame_with_counter(40));
    stage.publish_adc_data(frame_with_counter(41));
    EXPECT_EQ(err.take(),
              "check_frame_number_continuity failed, current counter (two part) : 0 40, prev counter : 0\n"
              " stream DW counter discontiutiy. Prev DW counter : 0, current DW counter : 40\n");
}

TEST_F(AdcToChannel, BlocksArePublishedWhereTheCounterCompletesThem) {
    std::vector<uint32_t> ap_at, lfp_at;
    for (uint32_t d = 0; d < 300; ++d) {
        const size_t ap = listener->ap.size(), lfp = listener->lfp.size();
        stage.publish_adc_data(frame_with_counter(d));
        if (listener->ap.size() != ap)
            ap_at.push_back(d);
        if (listener->lfp.size() != lfp)
            lfp_at.push_back(d);
    }
    ASSERT_EQ(ap_at.size(), 23u);
    for (uint32_t k = 0; k < 23; ++k)
        EXPECT_EQ(ap_at[k], 13 * k + 12);
    EXPECT_EQ(lfp_at, (std::vector<uint32_t>{143, 299}));
}

// Frame f of a super frame carries value 100 * f + sample index, so each channel shows which
// frame and sample it came from.
TEST_F(AdcToChannel, ChannelMappingCoversEveryChannelOnce) {
    for (uint32_t frame = 0; frame < 13 * 12; ++frame) {
        ADC_Frame adc = frame_with_counter(frame);
        for (uint32_t i = 0; i < 32; ++i)
            adc[i] = static_cast<uint16_t>(100 * (frame % 13) + i);
        stage.publish_adc_data(adc);
    }
    ASSERT_EQ(listener->ap.size(), 12u);
    ASSERT_EQ(listener->lfp.size(), 1u);
    const Channel_Block& ap = listener->ap.back();
    std::set<uint16_t> seen(ap.begin(), ap.end());
    EXPECT_EQ(seen.size(), 384u);
    EXPECT_EQ(ap[0], 100 * 1 + 0);     // slot 0, sample 0
    EXPECT_EQ(ap[26], 100 * 2 + 2);    // slot 1, sample 2
    EXPECT_EQ(ap[383], 100 * 12 + 31); // slot 11, sample 31
    EXPECT_EQ(ap[1], 100 * 1 + 1);
    EXPECT_EQ(ap[24], 100 * 1 + 2);
    // LFP frames are frame 0 of each super frame: every LFP channel holds its sample index.
    const Channel_Block& lfp = listener->lfp.back();
    EXPECT_EQ(lfp[383], 31);
    EXPECT_EQ(lfp[26], 2);
}

TEST_F(AdcToChannel, ExpiredListenerIsReportedPerBlockAndDecodingGoesOn) {
    listener.reset();
    Stderr_Capture err;
    for (uint32_t d = 0; d < 13 * 12; ++d)
        stage.publish_adc_data(frame_with_counter(d));
    std::string expected;
    for (int i = 0; i < 11; ++i)
        expected += "publish_ap_ch_data destination it not alive\n";
    expected += "publish_lp_ch_data destination it not alive\n";
    expected += "publish_ap_ch_data destination it not alive\n";
    EXPECT_EQ(err.take(), expected);
    EXPECT_EQ(stage.get_published_frame_count(), 156u);
}

// Inside a batch the listener is looked up once: a listener set meanwhile takes over at the next
// block (the one it replaced is let go at once), one released by its owner is held to the end of
// the batch. Outside a batch every block is a batch of its own, as the expired-listener test shows.
TEST_F(AdcToChannel, ABatchHoldsItsListenerUntilReplacedOrEnded) {
    Stderr_Capture err;
    std::weak_ptr<Recording_L2> first = listener;
    stage.begin_batch();
    for (uint32_t d = 0; d < 13; ++d)
        stage.publish_adc_data(frame_with_counter(d));
    listener.reset();
    for (uint32_t d = 13; d < 26; ++d)
        stage.publish_adc_data(frame_with_counter(d));
    ASSERT_FALSE(first.expired());
    EXPECT_EQ(first.lock()->ap.size(), 2u);
    EXPECT_EQ(first.lock()->brackets, "(");
    auto second = std::make_shared<Recording_L2>();
    stage.set_l2_ch_result_listener(second);
    for (uint32_t d = 26; d < 39; ++d)
        stage.publish_adc_data(frame_with_counter(d));
    EXPECT_TRUE(first.expired());
    EXPECT_EQ(second->ap.size(), 1u);
    stage.end_batch();
    EXPECT_EQ(second->brackets, "()");
    EXPECT_EQ(err.take(), "");
    for (uint32_t d = 39; d < 52; ++d)
        stage.publish_adc_data(frame_with_counter(d));
    EXPECT_EQ(second->brackets, "()()");
}

// Outside a batch a listener that throws is let go of all the same: its owner's release ends it.
TEST_F(AdcToChannel, AListenerThatThrowsOutsideABatchIsNotKept) {
    struct Throwing_L2 : Recording_L2 {
        void publish_ap_ch_data(Channel_Block&) override { throw std::runtime_error("listener failed"); }
    };
    auto throwing = std::make_shared<Throwing_L2>();
    std::weak_ptr<Throwing_L2> watched = throwing;
    stage.set_l2_ch_result_listener(throwing);
    int thrown = 0;
    for (uint32_t d = 0; d < 13; ++d) {
        try {
            stage.publish_adc_data(frame_with_counter(d));
        } catch (const std::runtime_error&) {
            ++thrown;
        }
    }
    EXPECT_EQ(thrown, 1);
    throwing.reset();
    EXPECT_TRUE(watched.expired());
}

TEST_F(AdcToChannel, NullWriterAcceptsBothBlocks) {
    auto null_writer = std::make_shared<CP_L2_CH_Results_Null_Writer>();
    stage.set_l2_ch_result_listener(null_writer);
    Stderr_Capture err;
    for (uint32_t d = 0; d < 13 * 12; ++d)
        stage.publish_adc_data(frame_with_counter(d));
    EXPECT_EQ(err.take(), "");
    EXPECT_EQ(stage.get_l2_ch_result_listener().lock(), null_writer);
}

TEST_F(AdcToChannel, ResyncClearsOnlyTheHighPart) {
    {
        Stdout_Capture quiet;
        Stderr_Capture quiet_err;
        stage.publish_adc_data(frame_with_counter(0xFFFFF));
        stage.publish_adc_data(frame_with_counter(0));
    }
    Stdout_Capture out;
    Stderr_Capture err;
    stage.reset_and_resync_counters();
    stage.publish_adc_data(frame_with_counter(1));
    EXPECT_EQ(out.take(), "reset_and_resync_counters requested.\n");
    EXPECT_EQ(err.take(),
              " stream DW counter discontiutiy. Prev DW counter : 1048576, current DW counter : 1\n");
}

// 2^32 frames are about three hours of recording. 2^32 is not a multiple of 13, so positions
// taken from the wrapped 32-bit counter would swap AP and LFP frames from then on.
TEST_F(AdcToChannel, PositionsStayRightAcrossTheWrapOfTheExtendedCounter) {
    // Super frame 330382099 starts at 2^32 - 9; begin at the LFP slot 0 before it.
    const uint64_t super_frame = 330382099 - 7;
    stage.preset_frame_counter(13 * super_frame - 1);
    Stdout_Capture out;
    Stderr_Capture err;
    for (uint64_t sf = super_frame; sf < super_frame + 12; ++sf) {
        for (uint32_t f = 0; f < 13; ++f) {
            const uint64_t counter = 13 * sf + f;
            stage.publish_adc_data(frame_with_counter(static_cast<uint32_t>(counter & 0xFFFFF),
                                                      static_cast<uint16_t>(f == 0 ? 900 + sf % 12 : f)));
        }
    }
    EXPECT_EQ(err.take(), "");
    EXPECT_EQ(out.take(),
              "frame_number rolled : 0, prev count : 1048575\nIncrementing m_three_word_counter_high_part\n");
    ASSERT_EQ(listener->ap.size(), 12u);
    for (const auto& block : listener->ap) {
        for (uint32_t c = 0; c < 384; ++c)
            ASSERT_EQ(block[c], (c % 24) / 2 + 1) << "channel " << c;
    }
    // The LFP block completes on the super frame with slot 11.
    ASSERT_EQ(listener->lfp.size(), 1u);
    for (uint32_t c = 0; c < 384; ++c)
        ASSERT_EQ(listener->lfp[0][c], 900 + (c % 24) / 2) << "channel " << c;
}

} // namespace
} // namespace Selvan::MURA::demux
