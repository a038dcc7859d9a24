#include "C_Bist_Data_Path_Tests.h"
#include "L2_PSB_Tester.h"
#include "L2_Sample_Accumulator.h"
#include "Output_Capture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace Selvan::MURA {
namespace {

using test_support::Stderr_Capture;
using test_support::Stdout_Capture;

demux::Channel_Block pattern_block() {
    demux::Channel_Block block;
    for (size_t c = 0; c < block.size(); ++c)
        block[c] = c % 2 ? 0x2AA : 0x155;
    return block;
}

TEST(PsbTester, FirstBlockOfEachKindIsNotCompared) {
    PSB_L2_Tester tester;
    demux::Channel_Block garbage{};
    tester.publish_ap_ch_data(garbage);
    tester.publish_lp_ch_data(garbage);
    EXPECT_EQ(tester.failed_comparison_count(), 0u);
    auto block = pattern_block();
    tester.publish_ap_ch_data(block);
    tester.publish_lp_ch_data(block);
    EXPECT_EQ(tester.successful_comparison_count(), 2u);
}

TEST(PsbTester, AMismatchIsReportedAtItsFirstChannel) {
    PSB_L2_Tester tester;
    auto block = pattern_block();
    tester.publish_ap_ch_data(block);
    block[200] = 0;
    block[300] = 0;
    Stderr_Capture err;
    tester.publish_ap_ch_data(block);
    EXPECT_EQ(err.take(), "PSB test ch_data compare failed at : 200\n");
    EXPECT_EQ(tester.failed_comparison_count(), 1u);
    EXPECT_EQ(tester.successful_comparison_count(), 0u);
}

TEST(PsbTester, PassesWithMoreThanTenMatchesAndFewerThanTenMismatches) {
    EXPECT_TRUE(psb_comparison_passed(11, 0));
    EXPECT_FALSE(psb_comparison_passed(10, 0));
    EXPECT_TRUE(psb_comparison_passed(50, 9));
    EXPECT_FALSE(psb_comparison_passed(50, 10));
}

// 1024 AP blocks of a cosine that lands exactly on FFT bin `bin` on every channel.
std::shared_ptr<L2_Sample_Accumulator> tone_on_bin(unsigned bin) {
    auto accumulator = std::make_shared<L2_Sample_Accumulator>();
    for (unsigned k = 0; k < 1024; ++k) {
        demux::Channel_Block block;
        const auto value =
            static_cast<uint16_t>(512 + 300 * std::cos(2 * std::numbers::pi * bin * k / 1024.0));
        block.fill(value);
        accumulator->publish_ap_ch_data(block);
    }
    return accumulator;
}

TEST(SignalCheck, BinsThirtyNineToFortyThreePass) {
    for (unsigned bin = 38; bin <= 44; ++bin) {
        Stdout_Capture out;
        const bool passed = check_signal_frequency(tone_on_bin(bin), 1024);
        const std::string printed = out.take();
        EXPECT_EQ(passed, bin >= 39 && bin <= 43) << "bin " << bin;
        EXPECT_EQ(printed.find("Frq check failed\n") != std::string::npos, !passed) << "bin " << bin;
    }
}

TEST(SignalCheck, EveryChannelIsReportedWithItsPeak) {
    Stdout_Capture out;
    check_signal_frequency(tone_on_bin(41), 1024);
    const std::string printed = out.take();
    EXPECT_EQ(printed.rfind("Current pixel : 0, peek frq = 1213.3 Hz , peek mag : ", 0), 0u)
        << printed.substr(0, 120);
    EXPECT_NE(printed.find("Current pixel : 383, peek frq = "), std::string::npos);
}

TEST(SignalCheck, TooFewBlocksFail) {
    auto accumulator = std::make_shared<L2_Sample_Accumulator>();
    demux::Channel_Block block{};
    accumulator->publish_ap_ch_data(block);
    EXPECT_FALSE(check_signal_frequency(accumulator, 1024));
}

TEST(SampleAccumulator, KeepsTheFirst1024BlocksOfEachKind) {
    L2_Sample_Accumulator accumulator;
    demux::Channel_Block block{};
    for (int i = 0; i < 1100; ++i) {
        block[0] = static_cast<uint16_t>(i);
        accumulator.publish_ap_ch_data(block);
        accumulator.publish_lp_ch_data(block);
    }
    EXPECT_EQ(accumulator.ap_block_count(), 1024u);
    EXPECT_EQ(accumulator.lfp_block_count(), 1024u);
    EXPECT_EQ(accumulator.ap_blocks().back()[0], 1023);
    accumulator.clear();
    EXPECT_EQ(accumulator.ap_block_count(), 0u);
}

} // namespace
} // namespace Selvan::MURA
