// demux-bench: throughput of the stream demultiplexer with its worker threads and the packet
// converters, fed as fast as possible with a synthesized recording of four probes and RHD.
// Reports the multiple of real time as "realtime" (seconds of recording per second of wall
// time). The whole pipeline with the pump is measured by np3-bench.

#include "C_Async_PSB_And_RHD_Demux.h"
#include "C_MT_NP_PXI_Queue.h"
#include "C_MT_RHD_PXI_Queue.h"
#include "C_Stream_Synthesizer.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
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

} // namespace

BENCHMARK_MAIN();
