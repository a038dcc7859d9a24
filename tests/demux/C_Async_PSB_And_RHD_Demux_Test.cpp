#include "C_Async_PSB_And_RHD_Demux.h"
#include "C_Stream_Synthesizer.h"
#include "Frame_Recorders.h"
#include "Log_Capture.h"
#include "Output_Capture.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <vector>

namespace Selvan::MURA::demux {
namespace {

using Selvan::MURA::test_support::Log_Capture;
using Selvan::MURA::test_support::Stderr_Capture;
using Selvan::MURA::test_support::Stdout_Capture;
using test_support::Channel_Block_Recorder;
using test_support::RHD_Frame_Recorder;
using test_support::without_rhd_stop_report;

using Row = std::array<uint8_t, 16>;

Row make_row(uint8_t id, uint8_t counter, uint16_t w0 = 0x1000, uint8_t marker = 0xD) {
    Row row{};
    row[0] = static_cast<uint8_t>((marker << 4) | id);
    row[1] = counter;
    row[2] = static_cast<uint8_t>(w0);
    row[3] = static_cast<uint8_t>(w0 >> 8);
    return row;
}

std::vector<uint8_t> bytes_of(std::initializer_list<Row> rows) {
    std::vector<uint8_t> bytes;
    for (const Row& row : rows)
        bytes.insert(bytes.end(), row.begin(), row.end());
    return bytes;
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

class MainDemux : public ::testing::Test {
protected:
    void SetUp() override {
        for (uint32_t port = 0; port < 4; ++port)
            demux.set_L2_CH_Results_Listener(recorders[port], port);
        demux.set_RHD_Results_Listener(rhd_recorder);
    }
    void TearDown() override {
        if (main_thread.joinable()) {
            demux.poison_queue();
            main_thread.join();
        }
    }
    void start() {
        demux.start_worker_threads();
        main_thread = std::thread([this] { demux.run(); });
    }
    // Pushes as the pump does: 1 MiB transfers of whole rows.
    void push(const std::vector<uint8_t>& bytes) {
        for (size_t at = 0; at < bytes.size(); at += Main_mux_transfer_buffer_wrapper::CAPACITY) {
            const size_t length =
                std::min<size_t>(Main_mux_transfer_buffer_wrapper::CAPACITY, bytes.size() - at);
            demux.push_xfer_buffer_to_queue(bytes.data() + at, static_cast<uint32_t>(length));
        }
    }
    void finish() {
        demux.poison_queue();
        main_thread.join();
    }

    std::array<std::shared_ptr<Channel_Block_Recorder>, 4> recorders = {
        std::make_shared<Channel_Block_Recorder>(), std::make_shared<Channel_Block_Recorder>(),
        std::make_shared<Channel_Block_Recorder>(), std::make_shared<Channel_Block_Recorder>()};
    std::shared_ptr<RHD_Frame_Recorder> rhd_recorder = std::make_shared<RHD_Frame_Recorder>();
    Async_NP_And_RHD_Demux demux;
    std::thread main_thread;
};

TEST_F(MainDemux, SingleRowBufferIsProcessedAndTheFirstBufferReported) {
    Stdout_Capture out;
    push(bytes_of({make_row(4, 0)}));
    start();
    for (int i = 0; i < 500 && demux.get_rhd_rows_processed() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    finish();
    EXPECT_EQ(demux.get_rhd_rows_processed(), 1u);
    EXPECT_EQ(demux.get_processed_transfer_buffer_count(), 2u);
    EXPECT_EQ(occurrences(out.take(), "Elements in main demux queue: 1, packet size : 16\n"), 1u);
    EXPECT_TRUE(demux.is_finished());
    EXPECT_FALSE(demux.run_failed());
}

TEST_F(MainDemux, BufferWithAPartialRowKeepsTheWholeRows) {
    Stdout_Capture out;
    Stderr_Capture err;
    auto bytes = bytes_of({make_row(4, 0), make_row(4, 1), make_row(4, 2)});
    bytes.resize(40);
    start();
    push(bytes);
    finish();
    EXPECT_EQ(occurrences(err.take(), "Buffer size incompatible\n"), 1u);
    EXPECT_EQ(demux.get_rhd_rows_processed(), 2u);
}

// A buffer too short for one row ends the main demux thread; the host process survives, the
// workers are joined and the finished flag is set, so the owner's wait ends.
TEST_F(MainDemux, BufferShorterThanARowStopsRunWithAReportAndFinishes) {
    Log_Capture log;
    Stdout_Capture out;
    Stderr_Capture err;
    start();
    push(std::vector<uint8_t>(15, 0xD4));
    main_thread.join();
    EXPECT_TRUE(demux.is_finished());
    EXPECT_TRUE(demux.run_failed());
    EXPECT_TRUE(log.contains("Main demux worker threads done"));
    demux.push_xfer_buffer_to_queue(bytes_of({make_row(4, 0)}).data(), 16);
    demux.poison_queue();
    EXPECT_EQ(demux.get_main_queue_element_count(), 1u);
    const std::string errors = err.take();
    EXPECT_EQ(occurrences(errors,
                          "Async_PSB_And_RHD_Demux : main demux thread stopped by an error : Buffer must "
                          "contain at least 16 byte\n"),
              1u);
    EXPECT_EQ(occurrences(errors,
                          "Async_PSB_And_RHD_Demux : main demux thread has ended, transfer buffers are "
                          "dropped\n"),
              1u);
    EXPECT_TRUE(log.contains(logging::Verbosity_ERROR,
                             "Main demux thread stopped by an error : Buffer must contain at least 16 byte"));
}

TEST_F(MainDemux, RowCountersAreCheckedPerStream) {
    Stdout_Capture out;
    Stderr_Capture err;
    std::vector<uint8_t> bytes = bytes_of(
        {make_row(0, 0), make_row(0, 1), make_row(1, 0), make_row(9, 0), make_row(0, 5), make_row(1, 1)});
    for (int i = 0; i < 257; ++i) {
        const Row row = make_row(3, static_cast<uint8_t>(i));
        bytes.insert(bytes.end(), row.begin(), row.end());
    }
    Log_Capture log;
    start();
    push(bytes);
    finish();
    const std::string output = out.take();
    EXPECT_EQ(occurrences(output, "Possible demux row counter disconitinuty"), 1u);
    EXPECT_EQ(
        occurrences(output,
                    "Possible demux row counter disconitinuty for demux ch : 0 at row : 4, prev value : "
                    "1, current value : 5\n"),
        1u);
    EXPECT_TRUE(log.contains(logging::Verbosity_WARNING, "Unknown demux stream id : 9 "));
    EXPECT_EQ(demux.get_row_index(), 263u);
}

TEST_F(MainDemux, RowsBeforeTheFirstSuperFrameStartAreDiscarded) {
    Stdout_Capture out;
    start();
    push(bytes_of({make_row(2, 0, 0x1000), make_row(2, 1, 0x1000), make_row(2, 2, 0x1800),
                   make_row(2, 3, 0x1000), make_row(2, 4, 0x1800)}));
    finish();
    EXPECT_EQ(occurrences(out.take(), "Resync to super frame in progress. Row discarded. Demux ch : 2\n"),
              2u);
    EXPECT_EQ(demux.get_np_rows_processed(2), 3u);
}

TEST_F(MainDemux, BadRowMarkerDropsTheRestOfTheBufferWithOneReport) {
    Stdout_Capture out;
    Stderr_Capture err;
    start();
    push(bytes_of({make_row(0, 0, 0x1800), make_row(0, 1), make_row(0, 2, 0, 0xA), make_row(0, 3)}));
    push(bytes_of({make_row(0, 4, 0, 0x5), make_row(0, 5)}));
    finish();
    EXPECT_EQ(without_rhd_stop_report(err.take()),
              "Async_PSB_And_RHD_Demux : invalid row marker at row 2 of the transfer buffer, 32 bytes "
              "dropped\n");
    EXPECT_EQ(
        occurrences(out.take(), "Async_PSB_And_RHD_Demux : Main mux data invalid, discarding data packet\n"),
        1u);
    EXPECT_EQ(demux.get_np_rows_processed(0), 2u);
}

TEST_F(MainDemux, BuffersPushedAfterThePoisonAreStillProcessed) {
    Stdout_Capture out;
    demux.poison_queue();
    push(bytes_of({make_row(4, 0), make_row(4, 1)}));
    start();
    main_thread.join();
    EXPECT_EQ(demux.get_rhd_rows_processed(), 2u);
    const std::string output = out.take();
    for (int port = 0; port < 4; ++port)
        EXPECT_EQ(
            occurrences(output, "Worker thread  received poision packet NP" + std::to_string(port) + "\n"),
            1u);
}

TEST_F(MainDemux, ListenerIndexOutsideThePortsIsRefused) {
    auto listener = std::make_shared<Channel_Block_Recorder>();
    try {
        demux.set_L2_CH_Results_Listener(listener, 4);
        FAIL() << "index 4 accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(),
                     "illegal np demux index inside Async_PSB_And_RHD_Demux::set_L2_CH_Results_Listener");
    }
    demux.set_L2_CH_Results_Listener(listener, 3);
    EXPECT_EQ(demux.get_L2_CH_Results_Listener(3).lock(), listener);
    EXPECT_THROW(demux.get_L2_CH_Results_Listener(4), std::runtime_error);
    EXPECT_EQ(demux.get_RHD_Results_Listener().lock(), rhd_recorder);
}

TEST_F(MainDemux, ResyncReachesEveryPortStage) {
    Stdout_Capture out;
    demux.signal_to_resync();
    EXPECT_EQ(occurrences(out.take(), "reset_and_resync_counters requested.\n"), 4u);
}

TEST_F(MainDemux, WorkersStartedButNeverFedAreJoinedByTheDestructor) {
    Log_Capture log;
    Stdout_Capture out;
    {
        Async_NP_And_RHD_Demux other;
        other.start_worker_threads();
    }
    EXPECT_TRUE(log.contains("Main demux worker threads done"));
    EXPECT_TRUE(log.contains("RHD Worker thread end"));
    EXPECT_EQ(log.count("NP Worker thread end"), 4u);
}

synth::Synth_Settings one_port(uint32_t port) {
    synth::Synth_Settings settings;
    settings.np_ports = {port};
    settings.rhd = false;
    settings.content.np_content = synth::Np_Content::ramp;
    return settings;
}

// Whole super frames reach the worker after the transfer that completed them, without waiting
// for a full buffer of 1,792 or for more data; the end of the stream hands over the rest, full
// buffers and a last partial one alike.
TEST_F(MainDemux, WholeSuperFramesReachTheWorkerAfterTheirTransferAndAtTheEnd) {
    synth::C_Stream_Synthesizer synthesizer(one_port(1));
    Stdout_Capture out;
    Stderr_Capture err;
    start();
    push(synthesizer.next_ticks(100));
    for (int i = 0; i < 500 && recorders[1]->ap().size() < 100; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(recorders[1]->ap().size(), 100u);
    push(synthesizer.next_ticks(2 * 1792 + 1 - 100));
    finish();
    EXPECT_EQ(without_rhd_stop_report(err.take()), "");
    EXPECT_EQ(demux.get_np_rows_processed(1), 65u * (2 * 1792 + 1));
    EXPECT_EQ(recorders[1]->ap().size(), 2u * 1792 + 1);
    EXPECT_EQ(demux.get_total_processed_SF_count(), 2u * 1792 + 1);
    EXPECT_TRUE(recorders[0]->ap().empty());
}

struct Throwing_Once_Recorder : Channel_Block_Recorder {
    void publish_ap_ch_data(Channel_Block& block) override {
        if (!thrown.exchange(true))
            throw std::runtime_error("boom");
        Channel_Block_Recorder::publish_ap_ch_data(block);
    }
    std::atomic<bool> thrown{false};
};

TEST_F(MainDemux, ListenerFailureLosesTheRestOfThatBatchOnly) {
    auto throwing = std::make_shared<Throwing_Once_Recorder>();
    demux.set_L2_CH_Results_Listener(throwing, 0);
    synth::C_Stream_Synthesizer synthesizer(one_port(0));
    Stdout_Capture out;
    Stderr_Capture err;
    start();
    // The first transfer is the first batch: it is decoded before the second is pushed.
    push(synthesizer.next_ticks(100));
    for (int i = 0;
         i < 500 && (demux.get_np_rows_processed(0) < 6500 || demux.get_main_queue_element_count() != 0 ||
                     demux.get_np_queue_element_count(0) != 0);
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    push(synthesizer.next_ticks(100));
    finish();
    const std::string errors = without_rhd_stop_report(err.take());
    out.take();
    // The next batch starts 100 super frames after the first (frame counter 1,300 = 1 * 1024 +
    // 276): its first frame counter shows the frames lost with the rest of the first batch.
    EXPECT_EQ(errors,
              "NP0 worker : exception while decoding a block, rest of the block dropped : boom\n"
              "check_frame_number_continuity failed, current counter (two part) : 1 276, prev counter : 12\n"
              " stream DW counter discontiutiy. Prev DW counter : 12, current DW counter : 1300\n");
    EXPECT_EQ(throwing->ap().size(), 100u);
}

// A row lost in the middle of a super frame costs that super frame only: collection resumes at
// the next super-frame start, every later block is exact, and the loss is counted.
TEST_F(MainDemux, LostRowCostsOnlyTheSuperFrameItTouched) {
    constexpr uint64_t LOST_SUPER_FRAME = 100;
    synth::Synth_Settings settings = one_port(1);
    settings.faults = {{synth::Fault_Kind::lost_row, 1, LOST_SUPER_FRAME * 65 + 30}};
    synth::C_Stream_Synthesizer synthesizer(settings);
    Stdout_Capture out;
    Stderr_Capture err;
    start();
    push(synthesizer.next_ticks(2 * 1792 + 2));
    finish();
    EXPECT_EQ(demux.get_super_frames_lost(1), 1u);
    EXPECT_EQ(demux.get_total_super_frames_lost(), 1u);
    EXPECT_EQ(occurrences(err.take(), "Super frame align failure"), 0u);
    const auto blocks = recorders[1]->ap();
    ASSERT_EQ(blocks.size(), 2u * 1792 + 1);
    const auto& content = synthesizer.content();
    for (uint64_t n = 0; n < blocks.size(); ++n) {
        const uint64_t super_frame = n < LOST_SUPER_FRAME ? n : n + 1;
        for (uint32_t channel = 0; channel < 384; ++channel)
            ASSERT_EQ(blocks[n][channel], content.ap_value(1, super_frame, channel)) << n << " " << channel;
    }
}

TEST_F(MainDemux, RhdRowsAreReassembledIntoFrames) {
    synth::Synth_Settings settings;
    settings.np_ports = {};
    settings.rhd_stream_count = 2;
    synth::C_Stream_Synthesizer synthesizer(settings);
    const auto bytes = synthesizer.next_ticks(100);
    const uint64_t complete_frames = synthesizer.rhd_words_sent() / synthesizer.rhd_frame_words();
    Stdout_Capture out;
    Stderr_Capture err;
    demux.set_enabled_RHD_stream_count(2);
    start();
    push(bytes);
    ASSERT_TRUE(rhd_recorder->wait_for(complete_frames));
    finish();
    const auto frames = rhd_recorder->frames();
    ASSERT_GE(frames.size(), complete_frames);
    const auto& content = synthesizer.content();
    for (uint64_t f = 0; f < complete_frames; ++f) {
        ASSERT_EQ(frames[f].timestamp, content.rhd_timestamp(f));
        for (uint32_t slot = 0; slot < 35; ++slot) {
            ASSERT_EQ(frames[f].streams[0][slot], content.rhd_amplifier_sample(f, 0, slot));
            ASSERT_EQ(frames[f].streams[1][slot], content.rhd_amplifier_sample(f, 1, slot));
        }
        for (uint32_t k = 0; k < 8; ++k)
            ASSERT_EQ(frames[f].auxiliary[k], content.rhd_auxiliary(f, k));
        ASSERT_EQ(frames[f].ttl_in, content.rhd_ttl_in(f));
    }
    EXPECT_GE(demux.get_total_processed_RHD_frame_count(), complete_frames);
}

} // namespace
} // namespace Selvan::MURA::demux
