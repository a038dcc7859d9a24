// np3-bench: pushes a synthesized stream of four Neuropixels probes and the RHD headstages
// through the whole data path: the box model's card-to-host stream, the controller library's
// hardware pump, the demultiplexer and its workers, the gain filters (with a calibration file
// loaded, as in a real acquisition), the packet converters and one reader thread per port that
// copies packets out in 64-packet reads as a host does, plus an ADC packet reader.
//
// Unpaced (default): as fast as it goes, over a looped recording whose every packet is counted,
// so the packets lost are exact. It reports the throughput as a multiple of real time, the CPU
// time per second of data (all threads), the peak resident memory and a memory-copy baseline.
// --realtime: the box delivers at its real rate (optionally while busy threads compete for the
// processors) and closed-loop readers take the packets as soon as they are queued; it reports
// how late each packet reached its reader after the box sent its last sample (percentiles), the
// packets lost and the CPU time per second of data (the busy threads not counted).

#include "CP_Virtual_Box_MURA_Controller.h"
#include "C_Async_PSB_And_RHD_Demux.h"
#include "C_MT_NP_PXI_Queue.h"
#include "C_MT_RHD_PXI_Queue.h"
#include "C_MURA_Controller_Library.h"
#include "C_Paced_Stream_Source.h"
#include "C_Stream_Synthesizer.h"
#include "Log.h"
#include "Thread_Name.h"

#include "Command_Line.h"
#include "Process_Times.h"
#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <fcntl.h>
#include <unistd.h>
#if defined(_WIN32)
constexpr const char* NULL_DEVICE = "NUL";
#else
constexpr const char* NULL_DEVICE = "/dev/null";
#endif

namespace {

using namespace Selvan::MURA;
using Clock = std::chrono::steady_clock;
using npoe_adapter::L2_CH_Results_NP_PXI_Format_Converter;
using npoe_adapter::RHD_Sample_Packet;
using npoe_adapter::RHD_to_PXI_ADC_Format_Converter;

constexpr double AP_SAMPLES_PER_SECOND = 30000.0;
constexpr uint32_t PORTS = 4;
constexpr size_t HOST_READ_PACKETS = 64;
constexpr uint32_t SUPER_FRAMES_PER_PACKET = 12;

struct Options {
    double data_seconds = 20;
    uint64_t recording_ticks = 1344;
    uint32_t rhd_streams = 2;
    uint32_t max_queued = 2;
    bool realtime = false;
    unsigned busy_threads = 0;
    bool gain_calibration = true;
};

// The recording is looped. Its length keeps every count exact across the seam: a multiple of 12
// super frames ends it on a whole electrode packet, and of 7 ticks ends the RHD words (92 per
// frame with two streams) on a whole row whatever the stream count. At the seam the probes'
// frame counters restart and the row counters jump, which the decoder reports once per loop and
// which costs no data.
uint64_t whole_recording_ticks(uint64_t wanted) {
    constexpr uint64_t step = 12 * 7;
    return std::max<uint64_t>(step, (wanted + step - 1) / step * step);
}

std::shared_ptr<const std::vector<uint8_t>> make_recording(const Options& options) {
    synth::Synth_Settings settings;
    settings.np_ports = {0, 1, 2, 3};
    settings.rhd = true;
    settings.rhd_stream_count = options.rhd_streams;
    settings.content.np_content = synth::Np_Content::neural;
    synth::C_Stream_Synthesizer synthesizer(settings);
    // Built in place in a buffer of the final size (a growing vector would hold two copies at
    // once, more than the whole pipeline needs).
    const uint64_t rhd_rows_per_tick = demux::RHD_Frame::word_count(options.rhd_streams) / 7 + 1;
    auto recording = std::make_shared<std::vector<uint8_t>>();
    recording->reserve(options.recording_ticks * (4 * 65 + rhd_rows_per_tick) * 16);
    constexpr uint64_t CHUNK_TICKS = 256;
    for (uint64_t tick = 0; tick < options.recording_ticks; tick += CHUNK_TICKS) {
        const std::vector<uint8_t> chunk =
            synthesizer.next_ticks(std::min(CHUNK_TICKS, options.recording_ticks - tick));
        recording->insert(recording->end(), chunk.begin(), chunk.end());
    }
    return recording;
}

// A gain calibration file with a different factor per electrode and gain, near 1.
std::filesystem::path write_gain_calibration_file() {
    const auto path =
        std::filesystem::temp_directory_path() / fmt::format("np3-bench-gain-{}.csv", ::getpid());
    std::ofstream file(path);
    file << "electrode,ap_gains,lfp_gains\n";
    for (int electrode = 0; electrode < 960; ++electrode) {
        file << electrode;
        for (int column = 0; column < 16; ++column)
            file << ',' << fmt::format("{:.4f}", 0.95 + 0.0001 * ((electrode * 7 + column * 13) % 1000));
        file << '\n';
    }
    return path;
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
    double data_seconds = 0;
    uint64_t bytes = 0;
    std::array<std::atomic<uint64_t>, PORTS> np_packets{};
    std::atomic<uint64_t> rhd_packets{0};
    std::array<uint64_t, PORTS> np_dropped{};
    uint64_t rhd_dropped = 0;
    std::array<uint64_t, PORTS> super_frames_lost{};
    uint64_t overflow_ticks = 0;
    double box_cpu_seconds = 0;
    double reader_cpu_seconds = 0;
    std::vector<float> np_latencies;
    std::vector<float> adc_latencies;
};

// The library in hardware mode against the box model, wired as the API wires it: every port
// through its gain filter to an electrode packet converter, the RHD frames to the ADC converter.
class Pipeline {
public:
    // With `paced`, the box's controller is the virtual box's: a read waits until its data is
    // due, as the driver's does.
    Pipeline(const Options& options, box_model::Card_To_Host_Stream_Model::Source source,
             const std::filesystem::path& gain_file,
             std::shared_ptr<box_model::C_Paced_Stream_Source> paced = nullptr)
        : m_box(std::make_shared<box_model::MURA_Box_Model>()) {
        m_box->stream().set_source(std::move(source));
        A_MURA_Controller::set_instance_factory(
            [box = m_box, paced](bool) -> std::shared_ptr<A_MURA_Controller> {
                if (paced)
                    return std::make_shared<box_model::CP_Virtual_Box_MURA_Controller>(box, paced);
                return std::make_shared<box_model::CP_Box_Model_MURA_Controller>(box);
            });
        library = std::make_unique<MURA_Controller_Library>(false);
        if (!library->open() || !library->check_and_switch_firmware_if_nec(true) || !library->pre_init(true))
            throw std::runtime_error("the box model did not come up");
        for (uint32_t port = 0; port < PORTS; ++port) {
            converters[port] = std::make_shared<L2_CH_Results_NP_PXI_Format_Converter>();
            library->set_NP_aqustion_listener(converters[port], port, true);
            if (!gain_file.empty() && !library->setGainCalibration(port, gain_file.string().c_str()))
                throw std::runtime_error("the gain calibration file did not load");
        }
        rhd_converter = std::make_shared<RHD_to_PXI_ADC_Format_Converter>();
        library->set_RHD_aqustion_listener(rhd_converter);
        library->prepare_for_streaming();
        // As the API's start of an acquisition does.
        for (auto& converter : converters)
            converter->get_queue().prepare_packets();
        rhd_converter->get_queue().prepare_packets();
        for (uint32_t s = 0; s < options.rhd_streams; ++s)
            rhd_streams.push_back(s);
    }

    void start() { library->enable_streaming(true, {0, 1, 2, 3}, true, rhd_streams, true); }

    void stop_and_release_readers() {
        library->disable_streaming();
        library->stop_main_demux_thread();
        for (auto& converter : converters)
            converter->get_queue().signal_exit();
        rhd_converter->signal_exit();
    }

    void collect_losses(Run_Result& result) const {
        for (uint32_t port = 0; port < PORTS; ++port) {
            result.np_dropped[port] = converters[port]->get_queue().dropped_count();
            result.super_frames_lost[port] = library->get_super_frames_lost(port);
        }
        result.rhd_dropped = rhd_converter->get_queue().dropped_count();
    }

    std::unique_ptr<MURA_Controller_Library> library;
    std::array<std::shared_ptr<L2_CH_Results_NP_PXI_Format_Converter>, PORTS> converters;
    std::shared_ptr<RHD_to_PXI_ADC_Format_Converter> rhd_converter;
    std::vector<uint32_t> rhd_streams;

    ~Pipeline() { A_MURA_Controller::reset_instance_factory(); }

private:
    std::shared_ptr<box_model::MURA_Box_Model> m_box;
};

// The looped recording, `repeats` times over, then nothing: the run ends on a whole recording.
// The box's DMA engine writes into host memory without going through a processor's caches;
// copying with streaming stores does the same here, so the simulated box does not pull the
// transfer buffer away from the core that last read it.
void copy_as_dma(uint8_t* destination, const uint8_t* source, size_t count) {
#if defined(__SSE2__)
    while (count > 0 && reinterpret_cast<uintptr_t>(destination) % 16 != 0) {
        *destination++ = *source++;
        --count;
    }
    for (; count >= 16; count -= 16, destination += 16, source += 16)
        _mm_stream_si128(reinterpret_cast<__m128i*>(destination),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(source)));
    _mm_sfence();
#endif
    std::memcpy(destination, source, count);
}

box_model::Card_To_Host_Stream_Model::Source
finite_loop(std::shared_ptr<const std::vector<uint8_t>> recording, uint64_t repeats) {
    auto position = std::make_shared<uint64_t>(0);
    const uint64_t total = repeats * recording->size();
    return [recording = std::move(recording), position, total](uint8_t* buffer, size_t capacity) -> size_t {
        size_t written = 0;
        while (written < capacity && *position < total) {
            const size_t offset = *position % recording->size();
            const size_t count = std::min<size_t>(
                {capacity - written, recording->size() - offset, static_cast<size_t>(total - *position)});
            copy_as_dma(buffer + written, recording->data() + offset, count);
            written += count;
            *position += count;
        }
        return written;
    };
}

// Waits until the counts stop growing: the readers have what the pipeline delivered.
void wait_for_delivery(Pipeline& pipeline, Run_Result& result,
                       const std::array<uint64_t, PORTS + 1>& expected) {
    auto total = [&] {
        uint64_t sum = result.rhd_packets.load();
        for (auto& packets : result.np_packets)
            sum += packets.load();
        return sum;
    };
    uint64_t wanted = 0;
    for (uint64_t count : expected)
        wanted += count;
    uint64_t last = total();
    auto last_change = Clock::now();
    while (total() < wanted && Clock::now() - last_change < std::chrono::milliseconds(500)) {
        // Readers waiting for a whole block of 64 take the rest.
        for (auto& converter : pipeline.converters)
            converter->get_queue().wake_readers();
        pipeline.rhd_converter->wake_readers();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (total() != last) {
            last = total();
            last_change = Clock::now();
        }
    }
}

void run_unpaced(const Options& options, std::shared_ptr<const std::vector<uint8_t>> recording,
                 const std::filesystem::path& gain_file, Run_Result& result,
                 std::array<uint64_t, PORTS + 1>& expected) {
    const double recording_seconds = options.recording_ticks / AP_SAMPLES_PER_SECOND;
    const auto repeats =
        static_cast<uint64_t>(std::max(1.0, std::ceil(options.data_seconds / recording_seconds - 1e-9)));
    for (uint32_t port = 0; port < PORTS; ++port)
        expected[port] = repeats * options.recording_ticks / SUPER_FRAMES_PER_PACKET;
    expected[PORTS] = repeats * options.recording_ticks;
    const uint64_t target_bytes = repeats * recording->size();

    Pipeline pipeline(options, finite_loop(recording, repeats), gain_file);
    std::vector<std::thread> readers;
    for (uint32_t port = 0; port < PORTS; ++port) {
        readers.emplace_back([&, port] {
            auto& queue = pipeline.converters[port]->get_queue();
            std::vector<Neuropixels::electrodePacket> host_buffer(HOST_READ_PACKETS);
            while (!queue.exit_signalled())
                result.np_packets[port] += queue.read_packets(host_buffer.data(), host_buffer.size());
        });
    }
    readers.emplace_back([&] {
        auto& queue = pipeline.rhd_converter->get_queue();
        std::vector<RHD_Sample_Packet> host_buffer(HOST_READ_PACKETS);
        while (!queue.exit_signalled())
            result.rhd_packets += queue.read_packets(host_buffer.data(), host_buffer.size());
    });

    const double cpu_start = tools::process_cpu_seconds();
    const auto start = Clock::now();
    pipeline.start();
    auto& demux = pipeline.library->get_demux();
    // The box model delivers at once, far faster than a real box: the pump holds back while the
    // demultiplexer or a port's worker already has work queued, so the run measures how fast the
    // pipeline drains, with bounded memory, not how fast memory fills. It also holds back while
    // what is on its way to a packet queue would not fit in it: an unpaced source outruns any
    // reader that the scheduler leaves waiting for a few milliseconds, which a real box at its
    // real rate never does (see --realtime for that case).
    const double transfers =
        static_cast<double>(target_bytes) / demux::Main_mux_transfer_buffer_wrapper::CAPACITY;
    const double adc_packets_per_transfer = expected[PORTS] / transfers;
    constexpr double QUEUE_ROOM = npoe_adapter::MT_NP_PXI_Queue::MAX_COUNT_ACCEPTING;
    constexpr double ADC_QUEUE_ROOM = npoe_adapter::MT_RHD_PXI_Queue::CAPACITY;
    constexpr double PACKETS_PER_ACCUMULATION_BUFFER =
        static_cast<double>(demux::NP_Accumulation_Buffer::SUPER_FRAMES) / SUPER_FRAMES_PER_PACKET;
    auto backlog = [&] {
        const size_t transfers_queued = demux.get_main_queue_element_count();
        if (transfers_queued > options.max_queued)
            return true;
        const double rhd_frames_queued = static_cast<double>(demux.get_rhd_queue_element_count()) /
                                         demux::RHD_Frame::word_count(options.rhd_streams);
        if (pipeline.rhd_converter->get_queue().element_count() + rhd_frames_queued +
                adc_packets_per_transfer * (transfers_queued + 1) >
            0.9 * ADC_QUEUE_ROOM)
            return true;
        for (uint32_t port = 0; port < PORTS; ++port) {
            const size_t buffers_queued = demux.get_np_queue_element_count(port);
            if (buffers_queued > 1 || pipeline.converters[port]->get_queue().element_count() +
                                              PACKETS_PER_ACCUMULATION_BUFFER * (buffers_queued + 1) >
                                          0.9 * QUEUE_ROOM)
                return true;
        }
        return false;
    };
    while (pipeline.library->get_total_bytes_pumped() < target_bytes) {
        while (backlog())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (!pipeline.library->pump_data_to_demux())
            throw std::runtime_error("the pump failed");
    }
    demux.push_end_of_data();
    wait_for_delivery(pipeline, result, expected);
    result.wall_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    pipeline.stop_and_release_readers();
    for (auto& reader : readers)
        reader.join();
    result.cpu_seconds = tools::process_cpu_seconds() - cpu_start;
    result.bytes = pipeline.library->get_total_bytes_pumped();
    result.data_seconds = repeats * recording_seconds;
    pipeline.collect_losses(result);
}

// One spinning thread per core, at normal priority, as a busy host application would run.
class Competing_Load {
public:
    explicit Competing_Load(unsigned threads) {
        for (unsigned i = 0; i < threads; ++i)
            m_threads.emplace_back([this] {
                name_this_thread("busy");
                volatile uint64_t work = 0;
                while (!m_stop.load(std::memory_order_relaxed))
                    work = work + 1;
                add_cpu(tools::thread_cpu_seconds());
            });
    }
    // Stops the threads and returns the CPU time they used.
    double stop() {
        m_stop = true;
        for (auto& thread : m_threads)
            thread.join();
        return m_cpu_seconds.load();
    }

private:
    void add_cpu(double seconds) {
        double current = m_cpu_seconds.load();
        while (!m_cpu_seconds.compare_exchange_weak(current, current + seconds)) {
        }
    }
    std::vector<std::thread> m_threads;
    std::atomic<bool> m_stop{false};
    std::atomic<double> m_cpu_seconds{0};
};

void add_to(std::atomic<double>& total, double seconds) {
    double current = total.load();
    while (!total.compare_exchange_weak(current, current + seconds)) {
    }
}

// The run's super frame a packet's timestamp names: timestamps count a 100 kHz clock, sample n
// having floor(10 n / 3).
uint64_t super_frame_of(uint32_t timestamp) {
    return (3 * static_cast<uint64_t>(timestamp) + 9) / 10;
}

// Milliseconds from the moment the box had sent the super frame to `now`.
float latency_ms(const box_model::C_Paced_Stream_Source& paced, uint64_t super_frame, Clock::time_point now) {
    const auto sent = paced.run_super_frame_sent(super_frame);
    return sent ? std::chrono::duration<float, std::milli>(now - *sent).count() : 0.0f;
}

// A closed-loop host's reader: it takes what is there as soon as it is (one blocking read that
// returns with the packets queued, up to 64), and times each packet from the moment the box sent
// its last sample to the return of the read that brought it.
template <class Queue, class Packet, class Last_Super_Frame>
void read_closed_loop(Queue& queue, const box_model::C_Paced_Stream_Source& paced, std::atomic<bool>& stop,
                      std::atomic<uint64_t>& packets, std::vector<float>& latencies,
                      std::atomic<double>& reader_cpu, Last_Super_Frame&& last_super_frame) {
    std::vector<Packet> host_buffer(HOST_READ_PACKETS);
    while (!stop) {
        const size_t count = queue.read_available(host_buffer.data(), host_buffer.size());
        const auto now = Clock::now();
        for (size_t i = 0; i < count; ++i)
            latencies.push_back(latency_ms(paced, last_super_frame(host_buffer[i]), now));
        packets += count;
    }
    add_to(reader_cpu, tools::thread_cpu_seconds());
}

void run_realtime(const Options& options, const std::filesystem::path& gain_file, Run_Result& result) {
    synth::Synth_Settings settings;
    settings.np_ports = {0, 1, 2, 3};
    settings.rhd = true;
    settings.rhd_stream_count = options.rhd_streams;
    settings.content.np_content = synth::Np_Content::neural;
    auto paced = std::make_shared<box_model::C_Paced_Stream_Source>(settings, 1.0);
    // What the simulated box spends making its stream (the real box's FPGA does that) is
    // measured apart, as are the host's readers.
    std::atomic<double> box_cpu{0}, reader_cpu{0};
    Pipeline pipeline(
        options,
        [paced, &box_cpu](uint8_t* buffer, size_t capacity) {
            const double before = tools::thread_cpu_seconds();
            const size_t filled = paced->fill(buffer, capacity);
            add_to(box_cpu, tools::thread_cpu_seconds() - before);
            return filled;
        },
        gain_file, paced);
    std::atomic<bool> stop{false};
    std::array<std::vector<float>, PORTS + 1> latencies;
    for (auto& list : latencies)
        list.reserve(static_cast<size_t>(options.data_seconds * AP_SAMPLES_PER_SECOND + 1000));
    std::vector<std::thread> readers;
    for (uint32_t port = 0; port < PORTS; ++port) {
        readers.emplace_back([&, port] {
            name_this_thread(fmt::format("host NP{}", port).c_str());
            read_closed_loop<npoe_adapter::MT_NP_PXI_Queue, Neuropixels::electrodePacket>(
                pipeline.converters[port]->get_queue(), *paced, stop, result.np_packets[port],
                latencies[port], reader_cpu, [](const Neuropixels::electrodePacket& packet) {
                    return super_frame_of(packet.timestamp[SUPER_FRAMES_PER_PACKET - 1]);
                });
        });
    }
    readers.emplace_back([&] {
        name_this_thread("host ADC");
        read_closed_loop<npoe_adapter::MT_RHD_PXI_Queue, RHD_Sample_Packet>(
            pipeline.rhd_converter->get_queue(), *paced, stop, result.rhd_packets, latencies[PORTS],
            reader_cpu, [](const RHD_Sample_Packet& packet) { return super_frame_of(packet.timestamp); });
    });

    Competing_Load load(options.busy_threads);
    const double cpu_start = tools::process_cpu_seconds();
    const auto start = Clock::now();
    paced->trigger();
    pipeline.start();
    const auto end = start + std::chrono::duration<double>(options.data_seconds);
    std::thread pump([&] {
        name_this_thread("np3 pump");
        while (Clock::now() < end) {
            if (!pipeline.library->pump_data_to_demux())
                break;
            result.overflow_ticks += paced->take_overflow_ticks();
        }
    });
    pump.join();
    result.wall_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    stop = true;
    pipeline.stop_and_release_readers();
    for (auto& reader : readers)
        reader.join();
    const double busy_cpu = load.stop();
    result.cpu_seconds = tools::process_cpu_seconds() - cpu_start - busy_cpu;
    result.box_cpu_seconds = box_cpu.load();
    result.reader_cpu_seconds = reader_cpu.load();
    result.bytes = pipeline.library->get_total_bytes_pumped();
    result.data_seconds = result.wall_seconds;
    pipeline.collect_losses(result);
    for (uint32_t port = 0; port < PORTS; ++port)
        result.np_latencies.insert(result.np_latencies.end(), latencies[port].begin(), latencies[port].end());
    result.adc_latencies = std::move(latencies[PORTS]);
}

uint64_t sum(const std::array<uint64_t, PORTS>& values) {
    uint64_t total = 0;
    for (uint64_t value : values)
        total += value;
    return total;
}

void report_unpaced(const Options& options, const Run_Result& result,
                    const std::array<uint64_t, PORTS + 1>& expected, const std::vector<uint8_t>& recording) {
    const double data_seconds = result.data_seconds;
    const double copy_seconds = memcpy_seconds(recording, result.bytes);
    uint64_t np_lost = 0;
    for (uint32_t port = 0; port < PORTS; ++port)
        np_lost += expected[port] - std::min<uint64_t>(expected[port], result.np_packets[port]);
    const uint64_t rhd_lost = expected[PORTS] - std::min<uint64_t>(expected[PORTS], result.rhd_packets);
    std::cout << fmt::format(
        "pipeline             : 4 NP probes + RHD ({} streams), box model hardware pump, demux, gain filters "
        "({}), converters, 4 readers of 64-packet blocks + 1 ADC reader\n",
        options.rhd_streams, options.gain_calibration ? "calibration file loaded" : "no calibration file");
    std::cout << fmt::format("data                 : {:.2f} s ({:.1f} MB, {:.1f} MB per second of data)\n",
                             data_seconds, result.bytes / 1e6, result.bytes / data_seconds / 1e6);
    std::cout << fmt::format("wall time            : {:.3f} s\n", result.wall_seconds);
    std::cout << fmt::format("throughput           : {:.2f} x real time\n",
                             data_seconds / result.wall_seconds);
    std::cout << fmt::format("CPU time             : {:.3f} s, {:.3f} s per second of data\n",
                             result.cpu_seconds, result.cpu_seconds / data_seconds);
    std::cout << fmt::format("peak resident memory : {:.1f} MiB (the looped recording is {:.1f} MiB of it)\n",
                             tools::peak_resident_mib(), recording.size() / 1048576.0);
    for (uint32_t port = 0; port < PORTS; ++port)
        std::cout << fmt::format("port {} packets       : {} of {}\n", port + 1,
                                 result.np_packets[port].load(), expected[port]);
    std::cout << fmt::format("RHD packets          : {} of {}\n", result.rhd_packets.load(), expected[PORTS]);
    std::cout << fmt::format("lost packets         : NP {}, RHD {}\n", np_lost, rhd_lost);
    std::cout << fmt::format(
        "of which             : {} dropped at the NP queues, {} at the ADC queue, {} super "
        "frames dropped by the demultiplexer\n",
        sum(result.np_dropped), result.rhd_dropped, sum(result.super_frames_lost));
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
}

// "p50 X ms, p99 Y ms, max Z ms" of the latencies (sorted in place).
std::string percentiles(std::vector<float>& latencies) {
    if (latencies.empty())
        return "no packets";
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double fraction) {
        return latencies[std::min(latencies.size() - 1, static_cast<size_t>(fraction * latencies.size()))];
    };
    return fmt::format("p50 {:.2f} ms, p99 {:.2f} ms, max {:.2f} ms", at(0.5), at(0.99), latencies.back());
}

void report_realtime(const Options& options, Run_Result& result) {
    const uint64_t np_lost = sum(result.np_dropped) + sum(result.super_frames_lost) / SUPER_FRAMES_PER_PACKET;
    std::cout << fmt::format("pipeline             : 4 NP probes + RHD ({} streams) at the box's real rate, "
                             "gain filters, closed-loop readers, {} competing busy threads\n",
                             options.rhd_streams, options.busy_threads);
    std::cout << fmt::format("data                 : {:.2f} s ({:.1f} MB)\n", result.data_seconds,
                             result.bytes / 1e6);
    uint64_t np_packets = 0;
    for (const auto& packets : result.np_packets)
        np_packets += packets.load();
    std::cout << fmt::format("packets read         : NP {}, ADC {}\n", np_packets, result.rhd_packets.load());
    std::cout << fmt::format("latency              : {} (electrode packets, all ports)\n",
                             percentiles(result.np_latencies));
    std::cout << fmt::format("ADC latency          : {}\n", percentiles(result.adc_latencies));
    std::cout << fmt::format("lost packets         : NP {}, RHD {} (box overflow: {} ticks)\n", np_lost,
                             result.rhd_dropped, result.overflow_ticks);
    const double library_cpu = result.cpu_seconds - result.box_cpu_seconds - result.reader_cpu_seconds;
    std::cout << fmt::format("CPU time             : {:.3f} s, {:.3f} s per second of data (busy threads not "
                             "counted)\n",
                             result.cpu_seconds, result.cpu_seconds / result.data_seconds);
    std::cout << fmt::format("of which             : {:.3f} s per second of data the data path, {:.3f} the "
                             "simulated box making its stream, {:.3f} the host's readers\n",
                             library_cpu / result.data_seconds, result.box_cpu_seconds / result.data_seconds,
                             result.reader_cpu_seconds / result.data_seconds);
    std::cout << fmt::format("peak resident memory : {:.1f} MiB\n", tools::peak_resident_mib());
}

} // namespace

int main(int argc, char** argv) {
    tools::Command_Line app(
        "Throughput of the np3_bridge data path: four probes and RHD through the whole pipeline");
    Options options;
    app.add_option("--seconds", options.data_seconds,
                   "seconds of data to push through (rounded up to whole "
                   "recordings)")
        .range(0.1, 3600.0);
    uint64_t wanted_ticks = options.recording_ticks;
    app.add_option("--recording-ticks", wanted_ticks,
                   "super frames in the looped synthesized recording (rounded up to a multiple of 84)")
        .range(1, 300000);
    app.add_option("--rhd-streams", options.rhd_streams, "RHD data streams per frame").range(0, 32);
    app.add_option("--max-queued", options.max_queued,
                   "transfers the pump lets wait in the demultiplexer's queue")
        .range(1, 10000);
    app.add_flag("--realtime", options.realtime,
                 "pace the box at its real rate and measure how late closed-loop readers get the data");
    app.add_option("--busy-threads", options.busy_threads,
                   "competing busy threads in --realtime (default: none)")
        .range(0, 64);
    bool no_gain = false;
    app.add_flag("--no-gain-calibration", no_gain, "leave the gain filters without a calibration file");
    if (const auto exit_code = app.parse(argc, argv))
        return *exit_code;
    options.gain_calibration = !no_gain;
    options.recording_ticks = whole_recording_ticks(wanted_ticks);
    logging::set_console_verbosity(logging::Verbosity_ERROR);

    std::cout << "np3-bench: synthesizing the " << (options.realtime ? "virtual box's content" : "recording")
              << "..." << std::endl;
    const auto recording = options.realtime ? nullptr : make_recording(options);
    const std::filesystem::path gain_file = options.gain_calibration ? write_gain_calibration_file() : "";
    Run_Result result;
    std::array<uint64_t, PORTS + 1> expected{};
    {
        Silenced_Output silence;
        if (options.realtime)
            run_realtime(options, gain_file, result);
        else
            run_unpaced(options, recording, gain_file, result, expected);
    }
    if (!gain_file.empty())
        std::filesystem::remove(gain_file);
    if (options.realtime)
        report_realtime(options, result);
    else
        report_unpaced(options, result, expected, *recording);
    return 0;
}
