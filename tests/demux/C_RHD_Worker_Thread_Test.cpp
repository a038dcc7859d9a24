#include "C_RHD_Worker_Thread.h"
#include "Frame_Recorders.h"
#include "Log_Capture.h"
#include "Output_Capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace Selvan::MURA::demux {
namespace {

using Selvan::MURA::test_support::Log_Capture;
using Selvan::MURA::test_support::Stderr_Capture;
using Selvan::MURA::test_support::Stdout_Capture;
using test_support::RHD_Frame_Recorder;
using test_support::without_rhd_stop_report;

// One frame on the wire for `streams` data streams; sample words are 1000 + 35 * stream + slot.
std::vector<uint16_t> rhd_frame_words(uint32_t streams, uint32_t timestamp, uint32_t ttl_in,
                                      uint32_t ttl_out) {
    std::vector<uint16_t> words = {0x2A53, 0x3813, 0x2AAA, 0xD7A2};
    words.push_back(static_cast<uint16_t>(timestamp));
    words.push_back(static_cast<uint16_t>(timestamp >> 16));
    for (uint32_t slot = 0; slot < 35; ++slot) {
        for (uint32_t s = 0; s < streams; ++s)
            words.push_back(static_cast<uint16_t>(1000 + 35 * s + slot));
    }
    for (uint32_t i = 0; i < streams % 4 + 2; ++i)
        words.push_back(0xEEEE);
    for (uint16_t k = 0; k < 8; ++k)
        words.push_back(static_cast<uint16_t>(0x7000 + k));
    words.insert(words.end(), {static_cast<uint16_t>(ttl_in), static_cast<uint16_t>(ttl_in >> 16),
                               static_cast<uint16_t>(ttl_out), static_cast<uint16_t>(ttl_out >> 16)});
    return words;
}

// A frame counts once the next one's preamble follows it.
const std::vector<uint16_t> NEXT_PREAMBLE = {0x2A53, 0x3813, 0x2AAA, 0xD7A2};

class RhdWorker : public ::testing::Test {
protected:
    void SetUp() override { worker.set_listener(recorder); }
    void start(uint32_t streams) {
        worker.set_enabled_stream_count(streams);
        worker.start("RHD");
    }
    void push(const std::vector<uint16_t>& words) { worker.push_words(words.data(), words.size()); }
    void stop() {
        worker.signal_to_stop();
        push(std::vector<uint16_t>(7840, 0));
        worker.join();
    }

    std::shared_ptr<RHD_Frame_Recorder> recorder = std::make_shared<RHD_Frame_Recorder>();
    C_RHD_Worker_Thread worker;
};

TEST_F(RhdWorker, FrameSizeFollowsTheStreamCount) {
    EXPECT_EQ(RHD_Frame::word_count(0), 20u);
    EXPECT_EQ(RHD_Frame::word_count(4), 160u);
    EXPECT_EQ(RHD_Frame::word_count(5), 196u);
    EXPECT_EQ(rhd_frame_words(5, 0, 0, 0).size(), 196u);
}

TEST_F(RhdWorker, FramesWithoutStreamsCarryTimestampAuxiliaryAndTtl) {
    Stdout_Capture out;
    Stderr_Capture err;
    start(0);
    push(rhd_frame_words(0, 0x00012345, 0x00030300, 0x12345678));
    push(rhd_frame_words(0, 0x00012346, 0, 1));
    push(NEXT_PREAMBLE);
    ASSERT_TRUE(recorder->wait_for(2));
    stop();
    EXPECT_EQ(without_rhd_stop_report(err.take()), "");
    const auto frames = recorder->frames();
    EXPECT_EQ(frames[0].preamble, RHD_Frame::PREAMBLE);
    EXPECT_EQ(frames[0].timestamp, 0x00012345u);
    EXPECT_EQ(frames[0].stream_count, 0u);
    EXPECT_FALSE(frames[0].has_stream(0));
    EXPECT_EQ(frames[0].auxiliary[0], 0x7000);
    EXPECT_EQ(frames[0].auxiliary[7], 0x7007);
    EXPECT_EQ(frames[0].ttl_in, 0x00030300u);
    EXPECT_EQ(frames[0].ttl_out, 0x12345678u);
    EXPECT_EQ(frames[1].timestamp, 0x00012346u);
    EXPECT_EQ(worker.get_valid_frame_count(), 2u);
}

TEST_F(RhdWorker, StreamsAreInterleavedSlotMajorAndTheFillerSkipped) {
    Stdout_Capture out;
    Stderr_Capture err;
    start(5);
    push(rhd_frame_words(5, 1, 2, 3));
    push(rhd_frame_words(5, 2, 2, 3));
    push(NEXT_PREAMBLE);
    ASSERT_TRUE(recorder->wait_for(2));
    stop();
    EXPECT_EQ(without_rhd_stop_report(err.take()), "");
    for (const auto& frame : recorder->frames()) {
        ASSERT_EQ(frame.stream_count, 5u);
        for (uint32_t s = 0; s < 5; ++s) {
            for (uint32_t slot = 0; slot < 35; ++slot)
                ASSERT_EQ(frame.streams[s][slot], 1000 + 35 * s + slot);
        }
        EXPECT_EQ(frame.auxiliary[3], 0x7003);
        EXPECT_EQ(frame.ttl_in, 2u);
    }
}

// A frame is parsed in one piece out of the worker's batch: words arriving seven at a time, as
// the rows bring them, must still make whole frames, also where a frame crosses the end of a
// batch (a batch holds three frames of 32 streams and a part of the next).
TEST_F(RhdWorker, FramesArrivingRowByRowAreAssembledAcrossBatches) {
    Stdout_Capture out;
    Stderr_Capture err;
    start(32);
    std::vector<uint16_t> words;
    for (uint32_t timestamp = 1; timestamp <= 10; ++timestamp) {
        const auto frame = rhd_frame_words(32, timestamp, timestamp, 0);
        words.insert(words.end(), frame.begin(), frame.end());
    }
    words.insert(words.end(), NEXT_PREAMBLE.begin(), NEXT_PREAMBLE.end());
    for (size_t at = 0; at < words.size(); at += 7)
        worker.push_words(words.data() + at, std::min<size_t>(7, words.size() - at));
    ASSERT_TRUE(recorder->wait_for(10));
    stop();
    EXPECT_EQ(without_rhd_stop_report(err.take()), "");
    const auto frames = recorder->frames();
    for (uint32_t i = 0; i < 10; ++i) {
        ASSERT_EQ(frames[i].timestamp, i + 1);
        ASSERT_EQ(frames[i].ttl_in, i + 1);
        ASSERT_EQ(frames[i].streams[31][34], 1000 + 35 * 31 + 34);
        ASSERT_EQ(frames[i].auxiliary[7], 0x7007);
    }
}

TEST_F(RhdWorker, LostStepIsFoundAgainAtThePreamble) {
    Stdout_Capture out;
    Stderr_Capture err;
    start(4);
    std::vector<uint16_t> words = {0x1234, 0x0001};
    const auto frame = rhd_frame_words(4, 7, 0, 0);
    words.insert(words.end(), frame.begin(), frame.end());
    words.insert(words.end(), NEXT_PREAMBLE.begin(), NEXT_PREAMBLE.end());
    push(words);
    ASSERT_TRUE(recorder->wait_for(1));
    stop();
    EXPECT_EQ(recorder->frames()[0].timestamp, 7u);
    const std::string errors = err.take();
    EXPECT_EQ(errors.substr(0, 17), "Resync warning 1\n");
    EXPECT_NE(out.take().find("Resync info 1\n"), std::string::npos);
}

TEST_F(RhdWorker, WrongPreambleDropsTheFrameAndParsingGoesOn) {
    Stdout_Capture out;
    Stderr_Capture err;
    start(0);
    std::vector<uint16_t> words = {0x2A53, 0x3813, 0x2AAA, 0x0000};
    const auto frame = rhd_frame_words(0, 9, 0, 0);
    words.insert(words.end(), frame.begin(), frame.end());
    words.insert(words.end(), NEXT_PREAMBLE.begin(), NEXT_PREAMBLE.end());
    push(words);
    ASSERT_TRUE(recorder->wait_for(1));
    // Nothing more is queued: the worker waits at the start of a frame.
    EXPECT_EQ(err.take().substr(0, 29), "invalid RHD frame preamble \n");
    stop();
    ASSERT_EQ(recorder->frames().size(), 1u);
    EXPECT_EQ(recorder->frames()[0].timestamp, 9u);
}

// Rows lost on the way cut a frame short: it would carry the next frame's words as its own. It
// is dropped, and the next frame, whose start it swallowed, is found again and kept.
TEST_F(RhdWorker, AFrameCutShortIsDroppedAndTheNextOneKept) {
    Stdout_Capture out;
    Stderr_Capture err;
    start(2);
    auto cut = rhd_frame_words(2, 1, 0, 0);
    cut.erase(cut.begin() + 20, cut.begin() + 27); // a row of seven words lost
    std::vector<uint16_t> words = cut;
    for (uint32_t timestamp : {2u, 3u}) {
        const auto frame = rhd_frame_words(2, timestamp, timestamp, 0);
        words.insert(words.end(), frame.begin(), frame.end());
    }
    words.insert(words.end(), NEXT_PREAMBLE.begin(), NEXT_PREAMBLE.end());
    push(words);
    ASSERT_TRUE(recorder->wait_for(2));
    stop();
    const auto frames = recorder->frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].timestamp, 2u);
    EXPECT_EQ(frames[0].ttl_in, 2u);
    EXPECT_EQ(frames[1].timestamp, 3u);
    EXPECT_NE(err.take().find("RHD frame cut short (1 so far): dropped, the next frame is searched for\n"),
              std::string::npos);
}

// A worker waiting in the middle of a 32-stream frame ends on the zero words pushed behind the
// stop flag; the frame they complete is no frame the box sent and goes nowhere.
TEST_F(RhdWorker, StopWhileInsideAFrameEndsWithoutDeliveringIt) {
    Log_Capture log;
    Stdout_Capture out;
    Stderr_Capture err;
    start(32);
    auto words = rhd_frame_words(32, 5, 0, 0);
    words.resize(600);
    push(words);
    for (int i = 0; i < 500 && worker.queue_element_count() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stop();
    EXPECT_TRUE(log.contains("RHD Worker thread end"));
    EXPECT_TRUE(recorder->frames().empty());
}

TEST_F(RhdWorker, StopWhileWaitingForAFrameEnds) {
    Log_Capture log;
    Stdout_Capture out;
    Stderr_Capture err;
    start(0);
    stop();
    EXPECT_TRUE(log.contains("RHD Worker thread end"));
    EXPECT_TRUE(recorder->frames().empty());
}

TEST_F(RhdWorker, StreamCountAbove32IsClamped) {
    Stderr_Capture err;
    worker.set_enabled_stream_count(40);
    EXPECT_EQ(err.take(), "RHD stream count 40 exceeds 32, using 32\n");
    EXPECT_EQ(worker.get_enabled_stream_count(), 32u);
}

TEST_F(RhdWorker, NewStreamCountAppliesFromTheNextFrame) {
    Stdout_Capture out;
    Stderr_Capture err;
    start(2);
    push(rhd_frame_words(2, 1, 0, 0));
    // The worker has taken the frame up (it waits for the next preamble behind it).
    for (int i = 0; i < 500 && worker.queue_element_count() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    worker.set_enabled_stream_count(1);
    push(rhd_frame_words(1, 2, 0, 0));
    push(NEXT_PREAMBLE);
    ASSERT_TRUE(recorder->wait_for(2));
    stop();
    EXPECT_EQ(without_rhd_stop_report(err.take()), "");
    const auto frames = recorder->frames();
    EXPECT_EQ(frames[1].stream_count, 1u);
    EXPECT_EQ(frames[1].streams[0][34], 1034);
    // The stream that is no longer present reads as zero in the reused record.
    EXPECT_EQ(frames[1].streams[1][0], 0);
}

struct Throwing_RHD_Listener : I_RHD_Frame_Listener {
    void on_rhd_frame(const RHD_Frame&) override {
        ++calls;
        throw std::runtime_error("listener failed");
    }
    std::atomic<int> calls{0};
};

TEST_F(RhdWorker, MissingOrFailingListenerLosesTheFrameOnly) {
    Stdout_Capture out;
    Stderr_Capture err;
    auto throwing = std::make_shared<Throwing_RHD_Listener>();
    worker.set_listener(throwing);
    start(0);
    push(rhd_frame_words(0, 1, 0, 0));
    push(rhd_frame_words(0, 2, 0, 0));
    push(NEXT_PREAMBLE);
    for (int i = 0; i < 500 && throwing->calls < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(throwing->calls, 2);
    throwing.reset();
    const auto third = rhd_frame_words(0, 3, 0, 0);
    push(std::vector<uint16_t>(third.begin() + 4, third.end()));
    push(NEXT_PREAMBLE);
    stop();
    EXPECT_EQ(worker.get_valid_frame_count(), 3u);
    const std::string errors = err.take();
    EXPECT_EQ(errors.find("RHD frame listener failed (1 times) : listener failed\n"), 0u);
    EXPECT_NE(out.take().find("There is no RHD frame listener\n"), std::string::npos);
}

} // namespace
} // namespace Selvan::MURA::demux
