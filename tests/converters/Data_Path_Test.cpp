// Whole data path below the API: a synthesized recording goes through the demultiplexer with
// its real worker threads into the packet converters, and every sample of every packet is
// compared with what the synthesizer put on the wire.

#include "C_Async_PSB_And_RHD_Demux.h"
#include "C_MT_NP_PXI_Queue.h"
#include "C_MT_RHD_PXI_Queue.h"
#include "C_Stream_Synthesizer.h"
#include "Output_Capture.h"
#include "Packet_Expectations.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace Selvan::MURA {
namespace {

using demux::Async_NP_And_RHD_Demux;
using Neuropixels::electrodePacket;
using npoe_adapter::L2_CH_Results_NP_PXI_Format_Converter;
using npoe_adapter::RHD_to_PXI_ADC_Format_Converter;
using synth::C_Stream_Synthesizer;
using synth::C_Synth_Content;
using test_support::expect_same_packet;
using test_support::expected_packets;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;

class DataPath : public ::testing::Test {
protected:
    void SetUp() override {
        Stdout_Capture quiet;
        for (uint32_t port = 0; port < 4; ++port) {
            converters[port] = std::make_shared<L2_CH_Results_NP_PXI_Format_Converter>();
            demux.set_L2_CH_Results_Listener(converters[port], port);
        }
        demux.set_RHD_Results_Listener(rhd_converter);
    }
    // The owner's calling order: workers, resync, main demux thread, pushes, poison, join.
    void start(uint32_t rhd_streams, const std::function<void()>& after_resync = {}) {
        demux.set_enabled_RHD_stream_count(rhd_streams);
        demux.start_worker_threads();
        demux.signal_to_resync();
        if (after_resync)
            after_resync();
        main_thread = std::thread([this] { demux.run(); });
    }
    void push(const std::vector<uint8_t>& bytes) {
        for (size_t at = 0; at < bytes.size(); at += demux::Main_mux_transfer_buffer_wrapper::CAPACITY) {
            const size_t length =
                std::min<size_t>(demux::Main_mux_transfer_buffer_wrapper::CAPACITY, bytes.size() - at);
            demux.push_xfer_buffer_to_queue(bytes.data() + at, static_cast<uint32_t>(length));
        }
    }
    void finish() {
        demux.poison_queue();
        main_thread.join();
    }
    void run(const std::vector<uint8_t>& bytes, uint32_t rhd_streams,
             const std::function<void()>& after_resync = {}) {
        start(rhd_streams, after_resync);
        push(bytes);
        finish();
    }
    void expect_packets(uint32_t port, const C_Synth_Content& content, uint64_t first_super_frame,
                        uint64_t super_frames) {
        const auto expected = expected_packets(content, port, first_super_frame, super_frames);
        auto& queue = converters[port]->get_queue();
        ASSERT_EQ(queue.element_count(), expected.size()) << "port " << port;
        for (size_t n = 0; n < expected.size(); ++n) {
            const electrodePacket* packet = queue.peek_xfer_buffer_from_queue();
            ASSERT_NE(packet, nullptr);
            expect_same_packet(*packet, *expected[n], port, n);
            queue.pop_packet();
        }
    }

    std::array<std::shared_ptr<L2_CH_Results_NP_PXI_Format_Converter>, 4> converters;
    std::shared_ptr<RHD_to_PXI_ADC_Format_Converter> rhd_converter = [] {
        Stdout_Capture quiet;
        return std::make_shared<RHD_to_PXI_ADC_Format_Converter>();
    }();
    Async_NP_And_RHD_Demux demux;
    std::thread main_thread;
};

// Every whole super frame of each port (a full accumulation buffer of 1,792 and one more) reaches
// its converter, and each port's packets carry its own data; every RHD frame that the next one's
// preamble closes reaches the ADC converter.
TEST_F(DataPath, FourPortsWithRhdDecodeBitExactIntoTheirOwnConverters) {
    synth::Synth_Settings settings;
    settings.np_ports = {0, 1, 2, 3};
    settings.rhd_stream_count = 2;
    settings.content.np_content = synth::Np_Content::neural;
    C_Stream_Synthesizer synthesizer(settings);
    const auto bytes = synthesizer.next_ticks(1793);
    Stdout_Capture out;
    Stderr_Capture err;
    run(bytes, 2);
    const std::string errors = err.take();
    EXPECT_EQ(errors.find("check_frame_number_continuity"), std::string::npos) << errors.substr(0, 500);
    EXPECT_EQ(errors.find("Super frame align failure"), std::string::npos);
    EXPECT_EQ(demux.get_total_processed_SF_count(), 4u * 1793);
    for (uint32_t port = 0; port < 4; ++port)
        expect_packets(port, synthesizer.content(), 0, 1793);
    EXPECT_EQ(demux.get_total_processed_RHD_frame_count(), 1792u);
}

TEST_F(DataPath, RhdFramesBecomeSamplePacketsBitExact) {
    RHD_to_PXI_ADC_Format_Converter::reset_remembered_ttl_input();
    synth::Synth_Settings settings;
    settings.np_ports = {};
    settings.rhd_stream_count = 3;
    settings.content.ttl_in_values = {0x00000000, 0x00000300, 0x00010000, 0x0003FF00};
    settings.content.ttl_hold_frames = 50;
    C_Stream_Synthesizer synthesizer(settings);
    const auto bytes = synthesizer.next_ticks(450);
    const uint64_t complete = synthesizer.rhd_words_sent() / synthesizer.rhd_frame_words();
    Stdout_Capture out;
    Stderr_Capture err;
    start(3);
    push(bytes);
    // The RHD worker ends at the frame after its stop request and drops what is still queued,
    // so the packets are awaited before the stream is poisoned.
    auto& queue = rhd_converter->get_queue();
    for (int i = 0; i < 1000 && queue.element_count() < complete; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(queue.element_count(), complete);
    finish();
    const auto& content = synthesizer.content();
    uint32_t remembered = 0;
    for (uint64_t f = 0; f < complete; ++f) {
        std::array<int16_t, 12> samples{};
        uint16_t status = 0;
        ASSERT_TRUE(rhd_converter->read_sample_packet_to_buffer(samples.data(), &status));
        for (uint32_t k = 0; k < 8; ++k)
            ASSERT_EQ(samples[k], static_cast<int16_t>(content.rhd_auxiliary(f, k) ^ 0x8000))
                << "frame " << f;
        for (uint32_t k = 8; k < 12; ++k)
            ASSERT_EQ(samples[k], 0);
        const uint32_t ttl = content.rhd_ttl_in(f);
        const uint16_t change = ttl != remembered ? 1 : 0;
        remembered = ttl;
        ASSERT_EQ(status, static_cast<uint16_t>((((ttl >> 8) & 0xFFFE) | change) << 6)) << "frame " << f;
    }
}

// 2^32 frames after the counters start (about three hours), the 32-bit extended frame counter
// wraps. The recording starts 900 super frames before that.
TEST_F(DataPath, PacketsStayBitExactAcrossTheWrapOfTheFrameCounter) {
    const uint64_t first_super_frame = 330382099 - 900;
    synth::Synth_Settings settings;
    settings.np_ports = {1};
    settings.rhd = false;
    settings.first_super_frame = first_super_frame;
    settings.content.np_content = synth::Np_Content::ramp;
    C_Stream_Synthesizer synthesizer(settings);
    const auto bytes = synthesizer.next_ticks(1793);
    Stdout_Capture out;
    Stderr_Capture err;
    // As if the port had streamed since its counters were last resynchronised.
    run(bytes, 0,
        [&] { demux.get_adc_to_channel_stage(1).preset_frame_counter(13 * first_super_frame - 1); });
    const std::string errors = err.take();
    EXPECT_EQ(errors.find("discontiutiy"), std::string::npos) << errors.substr(0, 500);
    EXPECT_EQ(errors.find("check_frame_number_continuity"), std::string::npos);
    expect_packets(1, synthesizer.content(), first_super_frame, 1793);
}

} // namespace
} // namespace Selvan::MURA
