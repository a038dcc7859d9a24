// The whole host sequence of acquisition software, through the exported API of np3_bridge: in
// simulation on a synthesized recording, and in hardware mode against the box model. Every
// sample of every packet read is compared with what was put on the wire.

#include "Api_Fixture.h"
#include "C_Stream_Synthesizer.h"
#include "Host_Sequence.h"
#include "Packet_Expectations.h"

#include <gtest/gtest.h>

#include <mutex>
#include <sstream>

namespace Selvan::MURA {
namespace {

using namespace Neuropixels;
using test_support::expect_same_packet;
using test_support::expected_packets;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;

constexpr uint64_t SUPER_FRAMES = 1792;
constexpr uint64_t PACKETS = SUPER_FRAMES / 12;

class HostSequence : public test_support::Api_Fixture {
protected:
    host::Host_Result run_quietly() {
        Stdout_Capture out;
        Stderr_Capture err;
        return host::run_host_sequence(options());
    }
    host::Host_Options options() {
        write_calibration_files();
        host::Host_Options o;
        o.adc_calibration_file = "22175715561_ADCCalibration.csv";
        o.gain_calibration_file = "gain_calibration.csv";
        o.packets_per_port = PACKETS;
        o.adc_packets = 24;
        o.on_packet = [this](int port, const electrodePacket& packet) {
            std::lock_guard lock(m_mutex);
            received[static_cast<size_t>(port - 1)].push_back(std::make_unique<electrodePacket>(packet));
        };
        return o;
    }

    void write_calibration_files() {
        std::ostringstream adc;
        adc << "ADC,CompP,CompN,Slope,Coarse,Fine,Cfix,Offset,Threshold\n";
        for (int i = 0; i < 32; ++i)
            adc << i << ",16,16,0,0,0,0,0,0\n";
        std::ofstream("22175715561_ADCCalibration.csv") << adc.str();
        std::ostringstream gain;
        gain << "electrode_gains\n";
        for (int e = 0; e < 960; ++e) {
            gain << e;
            for (int k = 0; k < 16; ++k)
                gain << ",1.0";
            gain << "\n";
        }
        std::ofstream("gain_calibration.csv") << gain.str();
    }

    void expect_port(int port, const synth::C_Synth_Content& content) {
        // The host routes the sync input: every sample carries the recording's pulser.
        const auto expected =
            expected_packets(content, static_cast<uint32_t>(port - 1), 0, SUPER_FRAMES, true);
        const auto& packets = received[static_cast<size_t>(port - 1)];
        ASSERT_EQ(packets.size(), expected.size()) << "port " << port;
        for (size_t n = 0; n < expected.size(); ++n)
            expect_same_packet(*packets[n], *expected[n], static_cast<uint32_t>(port - 1), n);
    }

    std::mutex m_mutex;
    std::array<std::vector<std::unique_ptr<electrodePacket>>, 4> received;
};

TEST_F(HostSequence, SimulationRunsTheWholeSequenceBitExact) {
    synth::Synth_Settings settings;
    settings.content.np_content = synth::Np_Content::neural;
    settings.rhd_stream_count = 0;
    synth::C_Stream_Synthesizer synthesizer(settings);
    {
        const auto bytes = synthesizer.next_ticks(SUPER_FRAMES + 700);
        std::ofstream("recording.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    write_marker("MURA_NPAPI_ADAPTER_SIM", "recording.bin");
    const host::Host_Result result = run_quietly();
    ASSERT_TRUE(result.ok) << result.failure;
    EXPECT_EQ(result.identities[0].headstage_part_number, "NP2_HS_30");
    EXPECT_EQ(result.identities[2].probe_part_number, "PRB_1_4_0480_1");
    EXPECT_EQ(result.identities[3].probe_serial_number, 22175715561u);
    EXPECT_EQ(result.adc_packets, 24u);
    for (int port = 1; port <= 4; ++port)
        expect_port(port, synthesizer.content());
}

TEST_F(HostSequence, HardwareModeAgainstTheBoxModelBitExact) {
    synth::Synth_Settings settings;
    settings.content.np_content = synth::Np_Content::neural;
    settings.rhd_stream_count = 0;
    const synth::C_Synth_Content content(settings.content);
    box->stream().set_source(box_model::Card_To_Host_Stream_Model::synthesizer(settings));
    box->headstage(1).set_probe_eeprom(18005106832, "PRB_1_2_0480_2");
    use_box_model();
    const host::Host_Result result = run_quietly();
    ASSERT_TRUE(result.ok) << result.failure;
    EXPECT_EQ(result.identities[1].probe_part_number, "PRB_1_2_0480_2");
    EXPECT_EQ(result.identities[1].probe_serial_number, 18005106832u);
    EXPECT_EQ(result.adc_packets, 24u);
    for (int port = 1; port <= 4; ++port)
        expect_port(port, content);
    // Every probe got its configuration, checked by read-back.
    for (int port = 0; port < 4; ++port)
        EXPECT_EQ(box->headstage(port).chain_uploads(0x0D).size(), 2u);
    EXPECT_FALSE(box->is_open());
}

} // namespace
} // namespace Selvan::MURA
