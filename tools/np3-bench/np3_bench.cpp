// np3-bench: pushes a synthesized stream of four Neuropixels probes and the RHD headstages
// through the whole data path, as fast as it goes: the box model's card-to-host stream, the
// controller library's hardware pump, the demultiplexer and its workers, the gain filters, the
// packet converters and one reader thread per port draining packets as a host would. It reports
// the throughput as a multiple of real time, the CPU time per second of data, the peak resident
// memory, and a memory-copy baseline over the same bytes measured in the same run.

#include "CP_Box_Model_MURA_Controller.h"
#include "C_Async_PSB_And_RHD_Demux.h"
#include "C_MT_NP_PXI_Queue.h"
#include "C_MT_RHD_PXI_Queue.h"
#include "C_MURA_Controller_Library.h"
#include "C_Stream_Synthesizer.h"
#include "Log.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>
#if defined(_WIN32)
#define NOMINMAX
#include <windows.h>

#include <psapi.h> // after windows.h, whose types it uses
constexpr const char* NULL_DEVICE = "NUL";
#else
#include <sys/resource.h>
constexpr const char* NULL_DEVICE = "/dev/null";
#endif

namespace {

using namespace Selvan::MURA;
using Clock = std::chrono::steady_clock;

constexpr double AP_SAMPLES_PER_SECOND = 30000.0;

struct Options {
    double data_seconds = 20;
    double recording_seconds = 0.512;
    uint32_t rhd_streams = 2;
    uint32_t max_queued = 4;
};

#if defined(_WIN32)
double seconds_of(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime) * 1e-7;
}

double cpu_seconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    return seconds_of(kernel) + seconds_of(user);
}

double peak_resident_mib() {
    PROCESS_MEMORY_COUNTERS counters{};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return counters.PeakWorkingSetSize / (1024.0 * 1024.0);
}
#else
double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec * 1e-6;
}

double peak_resident_mib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}
#endif

// A whole number of 256-tick periods keeps every stream's 8-bit row counter continuous across
// the loop of the recording; the frame counters restart, which the decoder reports once per loop.
std::shared_ptr<const std::vector<uint8_t>> make_recording(const Options& options, uint64_t& ticks) {
    synth::Synth_Settings settings;
    settings.np_ports = {0, 1, 2, 3};
    settings.rhd = true;
    settings.rhd_stream_count = options.rhd_streams;
    settings.content.np_content = synth::Np_Content::neural;
    ticks = std::max<uint64_t>(256, static_cast<uint64_t>(options.recording_seconds * AP_SAMPLES_PER_SECOND) /
                                        256 * 256);
    synth::C_Stream_Synthesizer synthesizer(settings);
    return std::make_shared<const std::vector<uint8_t>>(synthesizer.next_ticks(ticks));
}

double memcpy_seconds(const std::vector<uint8_t>& recording, uint64_t total_bytes) {
    std::vector<uint8_t> destination(demux::Main_mux_transfer_buffer_wrapper::CAPACITY);
    const auto start = Clock::now();
    uint64_t copied = 0;
    size_t position = 0;
    while (copied < total_bytes) {
        const size_t count = std::min<size_t>(destination.size(), recording.size() - position);
        std::memcpy(destination.data(), recording.data() + position, count);
        position = (position + count) % recording.size();
        copied += count;
    }
    volatile uint8_t sink = destination[copied % destination.size()];
    (void)sink;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Standard output and error of the library (statistics and decoder messages) go to the null device
// while the pipeline runs; the report is written afterwards.
class Silenced_Output {
public:
    Silenced_Output() {
        std::fflush(nullptr);
        m_out = ::dup(1);
        m_err = ::dup(2);
        const int null = ::open(NULL_DEVICE, O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::close(null);
    }
    ~Silenced_Output() {
        std::cout.flush();
        std::fflush(nullptr);
        ::dup2(m_out, 1);
        ::dup2(m_err, 2);
        ::close(m_out);
        ::close(m_err);
    }

private:
    int m_out;
    int m_err;
};

struct Run_Result {
    double wall_seconds = 0;
    double cpu_seconds = 0;
    uint64_t bytes = 0;
    std::array<uint64_t, 4> np_packets{};
    uint64_t rhd_packets = 0;
};

Run_Result run_pipeline(const Options& options, std::shared_ptr<const std::vector<uint8_t>> recording,
                        uint64_t target_bytes) {
    auto box = std::make_shared<testing::MURA_Box_Model>();
    box->stream().set_source(testing::Card_To_Host_Stream_Model::recording(recording, true));
    testing::Box_Model_Factory_Override use_box(box);
    auto library = std::make_unique<MURA_Controller_Library>(false);
    if (!library->open() || !library->check_and_switch_firmware_if_nec(true) || !library->pre_init(true))
        throw std::runtime_error("the box model did not come up");

    std::array<std::shared_ptr<npoe_adapter::L2_CH_Results_NP_PXI_Format_Converter>, 4> converters;
    for (uint32_t port = 0; port < 4; ++port) {
        converters[port] = std::make_shared<npoe_adapter::L2_CH_Results_NP_PXI_Format_Converter>();
        library->set_NP_aqustion_listener(converters[port], port, true);
    }
    auto rhd_converter = std::make_shared<npoe_adapter::RHD_to_PXI_ADC_Format_Converter>();
    library->set_RHD_aqustion_listener(rhd_converter);
    library->prepare_for_streaming();
    std::vector<uint32_t> rhd_streams;
    for (uint32_t s = 0; s < options.rhd_streams; ++s)
        rhd_streams.push_back(s);

    Run_Result result;
    std::vector<std::thread> readers;
    for (uint32_t port = 0; port < 4; ++port) {
        readers.emplace_back([&, port] {
            auto& queue = converters[port]->get_queue();
            while (const auto* packet = queue.peek_xfer_buffer_from_queue()) {
                static thread_local Neuropixels::electrodePacket host_buffer;
                std::memcpy(&host_buffer, packet, sizeof host_buffer);
                queue.pop_packet();
                ++result.np_packets[port];
            }
        });
    }
    readers.emplace_back([&] {
        std::array<int16_t, 12> samples{};
        uint16_t status = 0;
        while (rhd_converter->read_sample_packet_to_buffer(samples.data(), &status))
            ++result.rhd_packets;
    });

    const double cpu_start = cpu_seconds();
    const auto start = Clock::now();
    library->enable_streaming(true, {0, 1, 2, 3}, true, rhd_streams, true);
    // A real box delivers in real time, far slower than the pipeline; the box model delivers at
    // once. The pump holds back while the demultiplexer has a few transfers queued, so the run
    // measures how fast the pipeline drains, with bounded memory, not how fast memory fills.
    while (library->get_total_bytes_pumped() < target_bytes) {
        while (library->get_demux().get_main_queue_element_count() > options.max_queued)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (!library->pump_data_to_demux())
            throw std::runtime_error("the pump failed");
    }
    library->disable_streaming();
    library->stop_main_demux_thread();
    for (auto& converter : converters)
        converter->get_queue().signal_exit();
    rhd_converter->signal_exit();
    for (auto& reader : readers)
        reader.join();
    result.wall_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.cpu_seconds = cpu_seconds() - cpu_start;
    result.bytes = library->get_total_bytes_pumped();
    library.reset();
    return result;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Throughput of the np3_bridge data path: four probes and RHD through the whole pipeline"};
    Options options;
    app.add_option("--seconds", options.data_seconds, "seconds of data to push through")
        ->check(CLI::Range(0.1, 3600.0));
    app.add_option("--recording-seconds", options.recording_seconds,
                   "length of the looped synthesized recording")
        ->check(CLI::Range(0.01, 10.0));
    app.add_option("--rhd-streams", options.rhd_streams, "RHD data streams per frame")
        ->check(CLI::Range(0, 32));
    app.add_option("--max-queued", options.max_queued,
                   "transfers the pump lets wait in the demultiplexer's queue")
        ->check(CLI::Range(1, 10000));
    CLI11_PARSE(app, argc, argv);
    logging::set_console_verbosity(logging::Verbosity_ERROR);

    uint64_t recording_ticks = 0;
    std::cout << "np3-bench: synthesizing the recording..." << std::endl;
    const auto recording = make_recording(options, recording_ticks);
    const double bytes_per_data_second = recording->size() * AP_SAMPLES_PER_SECOND / recording_ticks;
    const auto target_bytes = static_cast<uint64_t>(options.data_seconds * bytes_per_data_second);

    Run_Result result;
    {
        Silenced_Output silence;
        result = run_pipeline(options, recording, target_bytes);
    }
    const double data_seconds = result.bytes / bytes_per_data_second;
    const double copy_seconds = memcpy_seconds(*recording, result.bytes);

    std::cout << fmt::format(
        "pipeline             : 4 NP probes + RHD ({} streams), box model hardware pump, demux, "
        "gain filters, converters, 5 reader threads\n",
        options.rhd_streams);
    std::cout << fmt::format("data                 : {:.2f} s ({:.1f} MB, {:.1f} MB per second of data)\n",
                             data_seconds, result.bytes / 1e6, bytes_per_data_second / 1e6);
    std::cout << fmt::format("wall time            : {:.3f} s\n", result.wall_seconds);
    std::cout << fmt::format("throughput           : {:.2f} x real time\n",
                             data_seconds / result.wall_seconds);
    std::cout << fmt::format("CPU time             : {:.3f} s, {:.3f} s per second of data\n",
                             result.cpu_seconds, result.cpu_seconds / data_seconds);
    std::cout << fmt::format("peak resident memory : {:.1f} MiB (the looped recording is {:.1f} MiB of it)\n",
                             peak_resident_mib(), recording->size() / 1048576.0);
    const double expected_packets = data_seconds * AP_SAMPLES_PER_SECOND / 12;
    for (uint32_t port = 0; port < 4; ++port)
        std::cout << fmt::format("port {} packets       : {} (about {:.0f} in the data)\n", port + 1,
                                 result.np_packets[port], expected_packets);
    std::cout << fmt::format("RHD packets          : {}\n", result.rhd_packets);
    std::cout << fmt::format(
        "queue high water     : main demux queue {} transfer buffers, NP worker queues {} {} {} {} "
        "accumulation buffers\n",
        demux::Async_NP_And_RHD_Demux::get_main_queue_high_water_mark(),
        demux::Async_NP_And_RHD_Demux::get_np_queue_high_water_mark(0),
        demux::Async_NP_And_RHD_Demux::get_np_queue_high_water_mark(1),
        demux::Async_NP_And_RHD_Demux::get_np_queue_high_water_mark(2),
        demux::Async_NP_And_RHD_Demux::get_np_queue_high_water_mark(3));
    std::cout << fmt::format("memcpy baseline      : {:.2f} GB/s over the same bytes = {:.1f} x real time\n",
                             result.bytes / copy_seconds / 1e9, data_seconds / copy_seconds);
    return 0;
}
