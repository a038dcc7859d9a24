#include "M_Okelly_Adapter.h"
#include "Output_Capture.h"
#include "Pause_Recorder.h"
#include "Recording_Bus.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace Selvan::MURA {
namespace {

using test_support::Bus_Write;
using test_support::Pause_Recorder;
using test_support::Recording_Bus;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;
using ::testing::ElementsAre;
using namespace std::chrono_literals;

class OkellyAdapter : public ::testing::Test {
protected:
    void SetUp() override {
        Stdout_Capture quiet;
        okelly = std::make_unique<Okelly_Adapter_Module>(0x1000, &bus);
    }
    Recording_Bus bus;
    std::unique_ptr<Okelly_Adapter_Module> okelly;
};

TEST_F(OkellyAdapter, EndpointsMapToWiresAndTriggers) {
    EXPECT_EQ(okelly->endpoint_address(0x00), 0x1000u);
    EXPECT_EQ(okelly->endpoint_address(0x0B), 0x102Cu);
    EXPECT_EQ(okelly->endpoint_address(0x24), 0x1090u);
    EXPECT_EQ(okelly->endpoint_address(0x3F), 0x10FCu);
    EXPECT_EQ(okelly->endpoint_address(0x40), 0x10A0u);
    EXPECT_EQ(okelly->endpoint_address(0x41), 0x10A4u);
}

TEST_F(OkellyAdapter, SimpleEndpointWrites) {
    okelly->set_continous_mode(true);
    okelly->set_continous_mode(false);
    okelly->set_max_time_step(1234);
    okelly->set_ttl_out_value(0x12345678);
    okelly->trigger_fsm();
    EXPECT_THAT(bus.writes, ElementsAre(Bus_Write{0x1000, 2}, Bus_Write{0x1000, 0}, Bus_Write{0x1004, 1234},
                                        Bus_Write{0x1054, 0x12345678}, Bus_Write{0x10A4, 1}));
    bus.fixed_reads[0x108C] = 0x30001;
    EXPECT_EQ(okelly->get_ttl_in_value(), 0x30001u);
}

TEST_F(OkellyAdapter, MisoDelayOfOnePortClearsTheOthers) {
    okelly->set_miso_delay(2, 5);
    okelly->set_miso_delay(7, 0xF);
    okelly->set_miso_delay(8, 0xF);
    EXPECT_THAT(bus.writes,
                ElementsAre(Bus_Write{0x1010, 0x500}, Bus_Write{0x1010, 0xF0000000}, Bus_Write{0x1010, 0}));
}

TEST_F(OkellyAdapter, AuxCommandListWritesEachWordWithItsTriggerThenTheLastIndex) {
    bus.fixed_reads[0x102C] = 0x3FFFFFFF;
    okelly->set_aux_cmds(0, 1, {0x8000, 0x8100, 0x8200});
    std::vector<Bus_Write> expected;
    const uint32_t commands[] = {0x8000, 0x8100, 0x8200};
    for (uint32_t i = 0; i < 3; ++i) {
        expected.push_back({0x1014, i});
        expected.push_back({0x1018, 0});
        expected.push_back({0x101C, commands[i]});
        expected.push_back({0x10A0, 4});
    }
    // Bits 19..10 become 2, the other slots' fields are kept.
    expected.push_back({0x102C, 0x3FF00BFF});
    EXPECT_EQ(bus.writes, expected);
}

TEST_F(OkellyAdapter, AuxCommandSlotTwoUsesTriggerBitThree) {
    okelly->set_aux_cmds(2, 2, {0x1});
    ASSERT_EQ(bus.writes.size(), 5u);
    EXPECT_EQ(bus.writes[3], (Bus_Write{0x10A0, 8}));
    EXPECT_EQ(bus.writes[4], (Bus_Write{0x102C, 0}));
}

TEST_F(OkellyAdapter, InvalidAuxCommandArgumentsWriteNothing) {
    Stderr_Capture err;
    okelly->set_aux_cmds(3, 0, {1});
    okelly->set_aux_cmds(0, 3, {1});
    okelly->set_aux_cmds(0, 0, {});
    okelly->set_aux_cmds(0, 0, std::vector<uint16_t>(1025, 1));
    EXPECT_EQ(err.take(), "invalid argument\ninvalid argument\ncmd list empty\ncmd list too long : 1025 "
                          "commands, at most 1024\n");
    EXPECT_TRUE(bus.writes.empty());
}

TEST_F(OkellyAdapter, LongestAuxCommandListFillsTheTenBitLastIndex) {
    okelly->set_aux_cmds(1, 2, std::vector<uint16_t>(1024, 7));
    ASSERT_EQ(bus.writes.size(), 4u * 1024 + 1);
    EXPECT_EQ(bus.writes[4 * 1023], (Bus_Write{0x1014, 1023}));
    EXPECT_EQ(bus.writes.back(), (Bus_Write{0x102C, 0x3FFu << 20}));
}

TEST_F(OkellyAdapter, StreamEnableMaskIgnoresNumbersAbove31ButCountsThem) {
    okelly->enable_streams({0, 1, 33});
    EXPECT_THAT(bus.writes, ElementsAre(Bus_Write{0x1050, 0x3}));
    EXPECT_EQ(okelly->enabled_stream_count(), 3u);
    okelly->enable_streams({31});
    EXPECT_EQ(bus.writes.back(), (Bus_Write{0x1050, 0x80000000}));
    EXPECT_EQ(okelly->enabled_stream_count(), 1u);
}

TEST_F(OkellyAdapter, DataClockPllIsProgrammedAndAwaited) {
    bus.queue_reads(0x1090, {0, 1, 3});
    Pause_Recorder pauses;
    Stdout_Capture out;
    EXPECT_TRUE(okelly->set_spi_freq(3, 5));
    EXPECT_EQ(out.take(), "Setting PLL freq to 30 MHz\nWaiting for PLL to lock\nWaiting for PLL to lock\n");
    EXPECT_THAT(bus.writes, ElementsAre(Bus_Write{0x100C, 0x305}, Bus_Write{0x10A0, 1}));
    EXPECT_EQ(pauses.pauses(), (std::vector<std::chrono::milliseconds>{10ms, 10ms}));
}

TEST_F(OkellyAdapter, DataClockFrequencyIsPrintedAsSinglePrecision) {
    bus.fixed_reads[0x1090] = 3;
    Stdout_Capture out;
    okelly->set_spi_freq(2, 3);
    EXPECT_EQ(out.take(), "Setting PLL freq to 33.3333 MHz\n");
}

TEST_F(OkellyAdapter, PllThatNeverLocksEndsTheWaitWithAMessage) {
    Pause_Recorder pauses;
    Stdout_Capture out;
    Stderr_Capture err;
    EXPECT_FALSE(okelly->set_spi_freq(1, 1));
    EXPECT_EQ(err.take(), "PLL did not lock after 500 status reads\n");
    EXPECT_EQ(pauses.count(10ms), Okelly_Adapter_Module::PLL_LOCK_POLL_LIMIT - 1);
    EXPECT_EQ(std::count(bus.reads.begin(), bus.reads.end(), 0x1090u), 500);
}

} // namespace
} // namespace Selvan::MURA
