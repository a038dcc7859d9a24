// The data path driven by the controller library: the box model's card-to-host stream (or a
// recording in simulation mode) is pumped through the demultiplexer, the gain filters and the
// packet converters, and every sample of every packet is compared with what was put on the wire.

#include "Box_Fixture.h"
#include "C_Async_PSB_And_RHD_Demux.h"
#include "C_MT_NP_PXI_Queue.h"
#include "C_MT_RHD_PXI_Queue.h"
#include "C_Stream_Synthesizer.h"
#include "Packet_Expectations.h"
#include "Scratch_Directory.h"

#include <gtest/gtest.h>

#include <fstream>

namespace Selvan::MURA {
namespace {

using npoe_adapter::L2_CH_Results_NP_PXI_Format_Converter;
using npoe_adapter::RHD_to_PXI_ADC_Format_Converter;
using test_support::expect_same_packet;
using test_support::expected_packets;
using test_support::Scratch_Directory;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;

// One accumulation buffer per port is 1,792 super frames; it is handed over once the next
// super frame's first row arrives.
constexpr uint64_t SUPER_FRAMES = 1792;

class LibraryDataPath : public test_support::Box_Fixture {
protected:
    void wire_converters(MURA_Controller_Library& lib) {
        Stdout_Capture quiet;
        for (uint32_t port = 0; port < 4; ++port) {
            converters[port] = std::make_shared<L2_CH_Results_NP_PXI_Format_Converter>();
            lib.set_NP_aqustion_listener(converters[port], port, true);
        }
        rhd_converter = std::make_shared<RHD_to_PXI_ADC_Format_Converter>();
        lib.set_RHD_aqustion_listener(rhd_converter);
    }

    // The pump runs until the workers report enough decoded super frames, so a further
    // accumulation buffer may have gone through as well: the first packets are checked.
    void expect_packets(uint32_t port, const synth::C_Synth_Content& content) {
        const auto expected = expected_packets(content, port, 0, SUPER_FRAMES);
        auto& queue = converters[port]->get_queue();
        ASSERT_GE(queue.element_count(), expected.size()) << "port " << port;
        for (size_t n = 0; n < expected.size(); ++n) {
            const auto* packet = queue.peek_xfer_buffer_from_queue();
            ASSERT_NE(packet, nullptr);
            expect_same_packet(*packet, *expected[n], port, n);
            queue.pop_packet();
        }
    }

    std::array<std::shared_ptr<L2_CH_Results_NP_PXI_Format_Converter>, 4> converters;
    std::shared_ptr<RHD_to_PXI_ADC_Format_Converter> rhd_converter;
};

// Reads that end inside rows (250,001 and 131,071 bytes, each followed by reads that deliver
// nothing) must not cost a single sample: the tail of each read goes in front of the next.
TEST_F(LibraryDataPath, HardwarePumpDeliversBitExactPacketsThroughReadsThatSplitRows) {
    synth::Synth_Settings settings;
    settings.np_ports = {1, 3};
    settings.rhd_stream_count = 2;
    settings.content.np_content = synth::Np_Content::neural;
    const synth::C_Synth_Content content(settings.content);
    box->stream().set_source(box_model::Card_To_Host_Stream_Model::synthesizer(settings));
    std::vector<uint32_t> sizes = {250001};
    sizes.insert(sizes.end(), box_model::CP_Box_Model_MURA_Controller::ZERO_READ_LIMIT, 0);
    sizes.push_back(131071);
    sizes.insert(sizes.end(), box_model::CP_Box_Model_MURA_Controller::ZERO_READ_LIMIT, 0);
    box->stream().set_read_sizes(sizes);

    auto& lib = opened_library();
    wire_converters(lib);
    Stdout_Capture out;
    Stderr_Capture err;
    lib.prepare_for_streaming();
    lib.enable_streaming(true, {1, 3}, true, {0, 1}, true);
    while (lib.get_demux().get_total_processed_SF_count() < 2 * SUPER_FRAMES)
        ASSERT_TRUE(lib.pump_data_to_demux());
    lib.disable_streaming();
    lib.stop_main_demux_thread();
    const std::string errors = err.take();
    out.take();
    EXPECT_EQ(errors.find("check_frame_number_continuity"), std::string::npos) << errors.substr(0, 400);
    EXPECT_EQ(errors.find("Possible demux row counter"), std::string::npos);
    expect_packets(1, content);
    expect_packets(3, content);
    EXPECT_EQ(converters[0]->get_queue().element_count(), 0u);
    EXPECT_EQ(converters[2]->get_queue().element_count(), 0u);
    EXPECT_GT(lib.get_demux().get_total_processed_RHD_frame_count(), 0u);
    EXPECT_GT(rhd_converter->get_queue().element_count(), 0u);
}

TEST_F(LibraryDataPath, GainCorrectionIsAppliedOnTheWay) {
    synth::Synth_Settings settings;
    settings.np_ports = {0};
    settings.rhd = false;
    settings.content.np_content = synth::Np_Content::neural;
    const synth::C_Synth_Content content(settings.content);
    box->stream().set_source(box_model::Card_To_Host_Stream_Model::synthesizer(settings));
    auto& lib = opened_library();
    wire_converters(lib);
    Scratch_Directory scratch;
    {
        std::ofstream file(scratch.file("gain.csv"));
        file << "gains\n";
        for (int e = 0; e < 960; ++e) {
            file << e;
            for (int k = 0; k < 16; ++k)
                file << ",0.5";
            file << '\n';
        }
    }
    Stdout_Capture out;
    Stderr_Capture err;
    ASSERT_TRUE(lib.setGainCalibration(0, scratch.file("gain.csv").c_str()));
    lib.prepare_for_streaming();
    lib.enable_streaming(true, {0}, false, {}, false);
    while (lib.get_demux().get_total_processed_SF_count() < SUPER_FRAMES)
        ASSERT_TRUE(lib.pump_data_to_demux());
    lib.stop_main_demux_thread();
    out.take();
    err.take();
    auto& queue = converters[0]->get_queue();
    ASSERT_GE(queue.element_count(), SUPER_FRAMES / 12);
    const auto* packet = queue.peek_xfer_buffer_from_queue();
    ASSERT_NE(packet, nullptr);
    for (uint32_t channel = 0; channel < 384; ++channel)
        ASSERT_EQ(packet->apData[0][channel],
                  static_cast<int16_t>((content.ap_value(0, 0, channel) - 512) / 2))
            << channel;
}

TEST_F(LibraryDataPath, SimulationReplaysARecordingBitExact) {
    synth::Synth_Settings settings;
    settings.np_ports = {0, 2};
    settings.rhd_stream_count = 1;
    settings.content.np_content = synth::Np_Content::neural;
    synth::C_Stream_Synthesizer synthesizer(settings);
    Scratch_Directory scratch;
    {
        const auto bytes = synthesizer.next_ticks(SUPER_FRAMES + 600); // beyond the last whole mebibyte
        std::ofstream(scratch.file("recording.bin"), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    Stdout_Capture out;
    Stderr_Capture err;
    auto lib = std::make_unique<MURA_Controller_Library>(true);
    lib->open();
    lib->pre_init(true);
    wire_converters(*lib);
    ASSERT_TRUE(lib->prepare_for_simulation_streaming(scratch.file("recording.bin")));
    lib->enable_streaming(true, {0, 1, 2, 3}, true, {0}, true);
    while (lib->pump_data_to_demux()) {
    }
    lib->stop_main_demux_thread();
    out.take();
    err.take();
    expect_packets(0, synthesizer.content());
    expect_packets(2, synthesizer.content());
    Stdout_Capture quiet;
    lib.reset();
}

} // namespace
} // namespace Selvan::MURA
