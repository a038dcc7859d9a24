// np3-acquire: a small acquisition host. It links np3_bridge as acquisition software does, runs
// the host's call sequence (device list, openBS, per port bring-up, identification,
// configuration and upload, start, a reader thread per port, ADC packets, stop, close) for a
// few seconds, writes each port's AP and LFP data as SpikeGLX-style .bin/.meta files, and prints
// packet counts, the data rate and a summary of the signal.
//
// By default it needs no hardware: in a scratch working directory it writes the simulation
// marker and a synthesized recording of four probes. With --hardware it runs in the current
// directory on the real box (or on the built-in box model with --box-model).

#include "CP_Box_Model_MURA_Controller.h"
#include "C_Stream_Synthesizer.h"
#include "Host_Sequence.h"
#include "Log.h"
#include "NeuropixAPI.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>

namespace {

using namespace Selvan::MURA;
using Neuropixels::electrodePacket;
namespace fs = std::filesystem;

constexpr double AP_RATE = 30000.0;
constexpr double LFP_RATE = 2500.0;

struct Options {
    double seconds = 1.5;
    bool hardware = false;
    bool box_model = false;
    std::string output = "np3_acquisition";
    std::vector<int> ports{1, 2, 3, 4};
    int verbosity = logging::Verbosity_WARNING;
};

// Running statistics of one port's AP samples and the writers of its data files.
class Port_Recorder {
public:
    Port_Recorder(const fs::path& folder, int port)
        : m_ap_path(folder / fmt::format("port{}.imec.ap.bin", port))
        , m_lfp_path(folder / fmt::format("port{}.imec.lf.bin", port))
        , m_ap(m_ap_path, std::ios::binary)
        , m_lfp(m_lfp_path, std::ios::binary) {}

    void add(const electrodePacket& packet) {
        m_ap.write(reinterpret_cast<const char*>(packet.apData), sizeof packet.apData);
        m_lfp.write(reinterpret_cast<const char*>(packet.lfpData), sizeof packet.lfpData);
        for (const auto& sample_row : packet.apData) {
            for (int16_t value : sample_row) {
                m_sum += value;
                m_sum_of_squares += static_cast<double>(value) * value;
                m_minimum = std::min<int>(m_minimum, value);
                m_maximum = std::max<int>(m_maximum, value);
                ++m_count;
            }
        }
        ++m_packets;
    }

    void finish() {
        m_ap.close();
        m_lfp.close();
        write_meta(m_ap_path, AP_RATE, m_packets * 12);
        write_meta(m_lfp_path, LFP_RATE, m_packets);
    }

    std::string summary() const {
        if (m_count == 0)
            return "no data";
        const double mean = m_sum / m_count;
        const double rms = std::sqrt(std::max(0.0, m_sum_of_squares / m_count - mean * mean));
        return fmt::format("AP mean {:.1f}, spread (RMS) {:.1f}, range {}..{} (ADC units)", mean, rms,
                           m_minimum, m_maximum);
    }

    const fs::path& ap_path() const { return m_ap_path; }

private:
    // The metadata SpikeGLX writes beside its .bin files, enough for common readers.
    static void write_meta(const fs::path& bin, double rate, uint64_t samples) {
        const uint64_t bytes = samples * 384 * sizeof(int16_t);
        fs::path meta = bin;
        meta.replace_extension(".meta");
        std::ofstream out(meta);
        out << "typeThis=imec\n"
            << "imDatPrb_type=0\n"
            << fmt::format("imSampRate={}\n", rate) << "nSavedChans=384\n"
            << "snsSaveChanSubset=0:383\n"
            << (rate == AP_RATE ? "snsApLfSy=384,0,0\n" : "snsApLfSy=0,384,0\n") << "imAiRangeMin=-0.6\n"
            << "imAiRangeMax=0.6\n"
            << "imMaxInt=512\n"
            << fmt::format("fileSizeBytes={}\n", bytes) << fmt::format("fileTimeSecs={}\n", samples / rate)
            << "acqApLfSy=384,384,1\n";
    }

    fs::path m_ap_path;
    fs::path m_lfp_path;
    std::ofstream m_ap;
    std::ofstream m_lfp;
    double m_sum = 0;
    double m_sum_of_squares = 0;
    int m_minimum = 32767;
    int m_maximum = -32768;
    uint64_t m_count = 0;
    uint64_t m_packets = 0;
};

void write_simulation_recording(double seconds) {
    synth::Synth_Settings settings;
    settings.content.np_content = synth::Np_Content::neural;
    settings.rhd_stream_count = 0;
    synth::C_Stream_Synthesizer synthesizer(settings);
    std::ofstream file("recording.bin", std::ios::binary);
    // Some more than asked for: a replay ends at the last whole mebibyte of the file.
    const auto ticks = static_cast<uint64_t>((seconds + 0.25) * AP_RATE);
    for (uint64_t done = 0; done < ticks; done += 3000) {
        const auto bytes = synthesizer.next_ticks(std::min<uint64_t>(3000, ticks - done));
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::ofstream("MURA_NPAPI_ADAPTER_SIM") << "recording.bin\n";
}

int run(const Options& options) {
    const fs::path output = fs::absolute(options.output);
    fs::create_directories(output);
    std::optional<fs::path> scratch;
    const fs::path start_directory = fs::current_path();
    if (!options.hardware) {
        scratch = fs::temp_directory_path() / fmt::format("np3-acquire-{}", ::getpid());
        fs::create_directories(*scratch);
        fs::current_path(*scratch);
        std::cout << fmt::format("simulation: synthesizing {:.1f} s of four probes in {}\n", options.seconds,
                                 scratch->string());
        write_simulation_recording(options.seconds);
    }
    std::optional<testing::Box_Model_Factory_Override> box_model;
    if (options.box_model) {
        auto box = std::make_shared<testing::MURA_Box_Model>();
        synth::Synth_Settings settings;
        settings.content.np_content = synth::Np_Content::neural;
        box->stream().set_source(testing::Card_To_Host_Stream_Model::synthesizer(settings));
        box_model.emplace(box);
    }

    std::array<std::unique_ptr<Port_Recorder>, 4> recorders;
    for (int port : options.ports)
        recorders[static_cast<size_t>(port - 1)] = std::make_unique<Port_Recorder>(output, port);
    host::Host_Options host_options;
    host_options.ports = options.ports;
    host_options.duration = std::chrono::milliseconds(static_cast<int64_t>(options.seconds * 1000));
    host_options.on_packet = [&](int port, const electrodePacket& packet) {
        recorders[static_cast<size_t>(port - 1)]->add(packet);
    };
    std::cout << "running the host sequence...\n";
    const host::Host_Result result = host::run_host_sequence(host_options);
    for (auto& recorder : recorders) {
        if (recorder)
            recorder->finish();
    }
    fs::current_path(start_directory);
    if (scratch)
        fs::remove_all(*scratch);

    if (!result.ok) {
        std::cout << "acquisition failed: " << result.failure << "\n";
        return 1;
    }
    uint64_t total = 0;
    for (int port : options.ports) {
        const auto index = static_cast<size_t>(port - 1);
        const auto& identity = result.identities[index];
        total += result.packets[index];
        std::cout << fmt::format("port {}: {} packets ({:.2f} s of data); headstage {}, probe {} #{}\n", port,
                                 result.packets[index], result.packets[index] * 12 / AP_RATE,
                                 identity.headstage_part_number, identity.probe_part_number,
                                 identity.probe_serial_number);
        std::cout << fmt::format("        {}\n", recorders[index]->summary());
        std::cout << fmt::format("        {}\n", recorders[index]->ap_path().string());
    }
    std::cout << fmt::format("ADC packets: {}\n", result.adc_packets);
    std::cout << fmt::format("data rate: {:.1f} MB/s of electrode packets over {:.2f} s\n",
                             total * sizeof(electrodePacket) / result.seconds / 1e6, result.seconds);
    return total > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Acquire from the MURA box through the Neuropixels API of np3_bridge"};
    Options options;
    app.add_option("--seconds", options.seconds, "how long to acquire")->check(CLI::Range(0.1, 3600.0));
    app.add_flag("--hardware", options.hardware,
                 "run in the current directory without creating the simulation marker (the real box)");
    app.add_flag("--box-model", options.box_model,
                 "with --hardware: use the built-in box model instead of a box");
    app.add_option("--output", options.output, "folder for the .bin/.meta files");
    app.add_option("--ports", options.ports, "API ports 1..4 to acquire")->check(CLI::Range(1, 4));
    app.add_option("-v,--verbosity", options.verbosity, "log lines up to this verbosity on standard error")
        ->check(CLI::Range(-2, 9));
    CLI11_PARSE(app, argc, argv);
    logging::set_console_verbosity(options.verbosity);
    try {
        return run(options);
    } catch (const std::exception& e) {
        std::cerr << "np3-acquire: " << e.what() << "\n";
        return 2;
    }
}
