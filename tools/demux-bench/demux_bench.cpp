// demux-bench: throughput of the stream demultiplexer with its worker threads and the packet
// converters, fed as fast as possible with a synthesized recording of four probes and RHD.
// Reports the multiple of real time as "realtime" (seconds of recording per second of wall
// time). The whole pipeline with the pump is measured by np3-bench. The single-threaded stages
// of one port are measured apart, per super frame (one AP sample of 384 channels): PSB decoding
// with the channel stage, the gain correction, and the electrode packet converter.

#include "CP_L1_ADC_TO_Channel.h"
#include "CP_L2_CH_Results_Null_Writer.h"
#include "C_Async_PSB_And_RHD_Demux.h"
#include "C_L2_CH_Gain_Fix_Filter.h"
#include "C_MT_NP_PXI_Queue.h"
#include "C_MT_RHD_PXI_Queue.h"
#include "C_Stream_Synthesizer.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace Selvan::MURA;

constexpr uint64_t TICKS = 6000; // 0.2 s: about 500 packets per port, within the queue bound

const std::vector<uint8_t>& recording(uint32_t rhd_streams) {
    static std::vector<uint8_t> bytes[33];
    if (bytes[rhd_streams].empty()) {
        synth::Synth_Settings settings;
        settings.rhd_stream_count = rhd_streams;
        synth::C_Stream_Synthesizer synthesizer(settings);
        bytes[rhd_streams] = synthesizer.next_ticks(TICKS);
    }
    return bytes[rhd_streams];
}

// The demux reports on standard output; keep it out of the benchmark's table.
class Quiet_Stdout {
public:
    Quiet_Stdout() {
        std::fflush(stdout);
        m_saved = ::dup(STDOUT_FILENO);
        std::FILE* null = std::fopen("/dev/null", "w");
        ::dup2(::fileno(null), STDOUT_FILENO);
        std::fclose(null);
    }
    ~Quiet_Stdout() {
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
    }

private:
    int m_saved;
};

void BM_DemuxFourProbesAndRhd(benchmark::State& state) {
    const uint32_t rhd_streams = static_cast<uint32_t>(state.range(0));
    const std::vector<uint8_t>& bytes = recording(rhd_streams);
    for (auto _ : state) {
        Quiet_Stdout quiet;
        std::array<std::shared_ptr<npoe_adapter::L2_CH_Results_NP_PXI_Format_Converter>, 4> converters;
        auto rhd = std::make_shared<npoe_adapter::RHD_to_PXI_ADC_Format_Converter>();
        demux::Async_NP_And_RHD_Demux demux;
        for (uint32_t port = 0; port < 4; ++port) {
            converters[port] = std::make_shared<npoe_adapter::L2_CH_Results_NP_PXI_Format_Converter>();
            demux.set_L2_CH_Results_Listener(converters[port], port);
        }
        demux.set_RHD_Results_Listener(rhd);
        demux.set_enabled_RHD_stream_count(rhd_streams);
        demux.start_worker_threads();
        const auto start = std::chrono::steady_clock::now();
        std::thread main_thread([&] { demux.run(); });
        for (size_t at = 0; at < bytes.size(); at += demux::Main_mux_transfer_buffer_wrapper::CAPACITY) {
            const size_t length =
                std::min<size_t>(demux::Main_mux_transfer_buffer_wrapper::CAPACITY, bytes.size() - at);
            demux.push_xfer_buffer_to_queue(bytes.data() + at, static_cast<uint32_t>(length));
        }
        demux.poison_queue();
        main_thread.join();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
    const double recorded_seconds = static_cast<double>(TICKS) / 30000.0;
    state.counters["realtime"] = benchmark::Counter(
        recorded_seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DemuxFourProbesAndRhd)->Arg(0)->Arg(32)->UseManualTime()->Unit(benchmark::kMillisecond);

// The NP payload of one port, 1,792 super frames: what one accumulation buffer holds.
const std::vector<uint8_t>& one_port_payload() {
    static std::vector<uint8_t> payload;
    if (payload.empty()) {
        synth::Synth_Settings settings;
        settings.np_ports = {0};
        settings.rhd = false;
        settings.content.np_content = synth::Np_Content::neural;
        synth::C_Stream_Synthesizer synthesizer(settings);
        const std::vector<uint8_t> rows = synthesizer.next_ticks(demux::NP_Accumulation_Buffer::SUPER_FRAMES);
        for (size_t at = 0; at < rows.size(); at += 16)
            payload.insert(payload.end(), rows.begin() + static_cast<long>(at + 2),
                           rows.begin() + static_cast<long>(at + 16));
    }
    return payload;
}

void BM_PsbDecodeAndChannelStage(benchmark::State& state) {
    const std::vector<uint8_t>& payload = one_port_payload();
    Quiet_Stdout quiet;
    demux::CP_L1_ADC_TO_Channel channels;
    auto sink = std::make_shared<demux::CP_L2_CH_Results_Null_Writer>();
    channels.set_l2_ch_result_listener(sink);
    demux::NP_PSB_Raw_Data_Demuxer decoder(channels);
    for (auto _ : state) {
        // Each pass continues the frame counters, as the next buffer of a stream does.
        channels.preset_frame_counter(13ull * demux::NP_Accumulation_Buffer::SUPER_FRAMES - 1);
        decoder.feed_psb_raw_data_block_buffer(payload.data(), static_cast<uint32_t>(payload.size()));
    }
    state.SetItemsProcessed(
        static_cast<int64_t>(state.iterations() * demux::NP_Accumulation_Buffer::SUPER_FRAMES));
}
BENCHMARK(BM_PsbDecodeAndChannelStage)->Unit(benchmark::kMicrosecond);

std::filesystem::path gain_calibration_file() {
    const auto path = std::filesystem::temp_directory_path() / "demux-bench-gain.csv";
    std::ofstream file(path);
    file << "gains\n";
    for (int electrode = 0; electrode < 960; ++electrode) {
        file << electrode;
        for (int column = 0; column < 16; ++column)
            file << ',' << 0.95 + 0.0001 * ((electrode * 7 + column * 13) % 1000);
        file << '\n';
    }
    return path;
}

void BM_GainCorrection(benchmark::State& state) {
    Quiet_Stdout quiet;
    C_L2_CH_Gain_Fix_Filter filter;
    const auto path = gain_calibration_file();
    filter.load_gain_calibration_file(path.string().c_str());
    std::filesystem::remove(path);
    auto sink = std::make_shared<demux::CP_L2_CH_Results_Null_Writer>();
    filter.set_downstream_listener(sink);
    demux::Channel_Block block{};
    for (auto _ : state) {
        for (uint32_t channel = 0; channel < block.size(); ++channel)
            block[channel] = static_cast<uint16_t>(channel + 100);
        filter.publish_ap_ch_data(block);
        benchmark::DoNotOptimize(block);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_GainCorrection);

// Twelve AP blocks and an LFP block make a packet, which a host then copies out.
void BM_ElectrodePacketConverter(benchmark::State& state) {
    Quiet_Stdout quiet;
    npoe_adapter::L2_CH_Results_NP_PXI_Format_Converter converter;
    demux::Channel_Block block{};
    Neuropixels::electrodePacket host_buffer;
    for (auto _ : state) {
        for (int ap = 0; ap < 12; ++ap)
            converter.publish_ap_ch_data(block);
        converter.publish_lp_ch_data(block);
        converter.get_queue().read_packets(&host_buffer, 1);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 12));
}
BENCHMARK(BM_ElectrodePacketConverter);

} // namespace

BENCHMARK_MAIN();
