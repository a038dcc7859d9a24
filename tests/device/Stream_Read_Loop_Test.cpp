#include "Output_Capture.h"
#include "Scripted_Stream_Reads.h"
#include "Stream_Read_Loop.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace Selvan::MURA {
namespace {

using test_support::Scripted_Stream_Reads;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;
using Status = Stream_Read_Result::Status;

class StreamReadLoop : public ::testing::Test {
protected:
    uint32_t read(uint32_t length, bool wait_for_full) {
        return read_stream_into(buffer.data(), length, wait_for_full, reads.as_single_read());
    }

    std::vector<uint8_t> buffer = std::vector<uint8_t>(4096, 0xEE);
    Scripted_Stream_Reads reads;
    Stdout_Capture out;
    Stderr_Capture err;
};

TEST_F(StreamReadLoop, ZeroLengthReturnsWithoutReading) {
    reads.then_deliver(100);
    EXPECT_EQ(read(0, true), 0u);
    EXPECT_EQ(reads.calls(), 0u);
    EXPECT_EQ(read_stream_into(nullptr, 16, true, reads.as_single_read()), 0u);
    EXPECT_EQ(reads.calls(), 0u);
}

TEST_F(StreamReadLoop, WithoutWaitingOneReadReturnsWhatItDelivered) {
    reads.then_deliver(700).then_deliver(300);
    EXPECT_EQ(read(1000, false), 700u);
    EXPECT_EQ(reads.calls(), 1u);
    EXPECT_EQ(reads.requested_lengths(), std::vector<uint32_t>{1000});
    EXPECT_EQ(out.take(), "");
}

TEST_F(StreamReadLoop, FillsTheBufferOverSeveralReadsAskingForWhatIsLeft) {
    reads.then_deliver(100).then_deliver(0).then_deliver(400).then_deliver(524);
    EXPECT_EQ(read(1024, true), 1024u);
    EXPECT_EQ(reads.requested_lengths(), (std::vector<uint32_t>{1024, 924, 924, 524}));
    // Each read wrote where the previous one stopped.
    EXPECT_EQ(buffer[0], reads.fill_of_call(0));
    EXPECT_EQ(buffer[100], reads.fill_of_call(2));
    EXPECT_EQ(buffer[1023], reads.fill_of_call(3));
    EXPECT_EQ(buffer[1024], 0xEE);
    EXPECT_EQ(out.take(), "");
}

TEST_F(StreamReadLoop, AFillOfMoreThanFiftyReadsIsCounted) {
    for (int i = 0; i < 51; ++i)
        reads.then_deliver(1);
    EXPECT_EQ(read(51, true), 51u);
    EXPECT_EQ(out.take(), "51 read_issue_counter.\n");
}

TEST_F(StreamReadLoop, FiftyReadsAreNotReported) {
    for (int i = 0; i < 50; ++i)
        reads.then_deliver(1);
    EXPECT_EQ(read(50, true), 50u);
    EXPECT_EQ(out.take(), "");
}

TEST_F(StreamReadLoop, AStreamThatOnlyDeliversNothingEndsAtTheIssueLimit) {
    reads.then_deliver(10).forever_deliver(0);
    EXPECT_EQ(read(64, true), 10u);
    EXPECT_EQ(reads.calls(), READ_ISSUE_LIMIT + 1);
    EXPECT_EQ(err.take(), "Read timeout.\n");
    EXPECT_EQ(out.take(), "100001 read_issue_counter.\n");
}

TEST_F(StreamReadLoop, AReadThatTimesOutEndsTheLoopWithWhatWasRead) {
    reads.then_deliver(300).then_time_out(20).then_deliver(1000);
    EXPECT_EQ(read(1000, true), 320u);
    EXPECT_EQ(reads.calls(), 2u);
    EXPECT_EQ(err.take(), "Read timeout.\n");
    EXPECT_EQ(out.take(), "2 read_issue_counter.\n");
}

TEST_F(StreamReadLoop, AFailedReadRaisesAndKeepsWhatWasRead) {
    reads.then_deliver(200).then_fail(1117);
    try {
        read(1000, true);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "c2h transfer failed");
    }
    EXPECT_EQ(err.take(), "ReadFile from device failed: 1117");
    EXPECT_EQ(buffer[199], reads.fill_of_call(0));
}

TEST_F(StreamReadLoop, ADriverClaimingMoreThanAskedCountsOnlyTheBuffer) {
    reads.then_deliver(5000);
    EXPECT_EQ(read(1000, true), 1000u);
    EXPECT_EQ(reads.calls(), 1u);
}

TEST(ReadTimeLimit, NoPreparedLimitMeansOneSecond) {
    EXPECT_EQ(read_time_limit_ms(0), 1000u);
    EXPECT_EQ(read_time_limit_ms(25), 25u);
}

} // namespace
} // namespace Selvan::MURA
