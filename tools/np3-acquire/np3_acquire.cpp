// np3-acquire: a small acquisition host. It links np3_bridge as acquisition software does, runs
// the host's call sequence (device list, openBS, per port bring-up, identification,
// configuration and upload, start, a reader thread per port, ADC packets, stop, close) and
// writes a SpikeGLX run that the usual readers open. While it acquires it shows one status
// line; the library's own console output goes to np3_bridge.log in the run's folder.
//
// By default it needs no hardware: in a scratch working directory it writes the simulation
// marker and a synthesized recording of four probes. --virtual asks the library for its
// virtual box (the box model shipped as a module; --box-model says the same), --hardware runs in
// the current directory on the real box. It runs as a host written for the published API does:
// it routes the sync signal with the switch matrix, starts with arm and the software trigger and
// stops with arm, and places every sample by its packet's timestamp, so that a gap in the data
// stays a gap in the files.

#include "C_Acquisition_Status.h"
#include "C_Console_Redirect.h"
#include "C_SpikeGLX_Run.h"
#include "C_Stream_Synthesizer.h"
#include "Host_Sequence.h"
#include "Log.h"
#include "NeuropixAPI.h"

#include "Command_Line.h"
#include <fmt/chrono.h>
#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

// The source tree this program was built from; empty where it does not apply.
const char* np3_source_dir();

namespace {

using namespace Selvan::MURA;
using acquire::C_Acquisition_Status;
using acquire::C_SpikeGLX_Run;
using Neuropixels::electrodePacket;
namespace fs = std::filesystem;

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;
// The simulation replays a recording synthesized beforehand into the scratch folder (about
// 125 MB per second of four probes); longer runs belong to the virtual box, which synthesizes
// as it streams.
constexpr double LONGEST_SIMULATION_SECONDS = 10.0;

enum class Box { simulation, virtual_box, hardware };

struct Options {
    double seconds = 1.5;
    bool hardware = false;
    bool virtual_box = false;
    bool box_model = false;
    bool plot = false;
    std::string output;
    std::string recording; // simulation: replay this recording instead of synthesizing one
    std::vector<int> ports{1, 2, 3, 4};
    synth::Np_Content signal = synth::Np_Content::neural;
    int ap_gain = 500;
    int lf_gain = 250;
    host::Sync_Routing sync = host::Sync_Routing::input;
    int verbosity = logging::Verbosity_INFO;

    Box box() const {
        if (virtual_box || box_model)
            return Box::virtual_box;
        return hardware ? Box::hardware : Box::simulation;
    }
};

std::atomic<bool> g_stop_requested{false};
// Where the tool's own error messages go: standard error until the console is redirected.
std::FILE* g_terminal_err = stderr;

// The first Ctrl-C ends the acquisition early and lets the run be written; a second one ends
// the process at once.
extern "C" void on_interrupt(int) {
    g_stop_requested = true;
    std::signal(SIGINT, SIG_DFL);
}

std::string local_time_text() {
    return fmt::format("{:%Y-%m-%dT%H:%M:%S}", fmt::localtime(std::time(nullptr)));
}

std::string default_output() {
    return fmt::format("np3_{:%Y%m%d_%H%M%S}", fmt::localtime(std::time(nullptr)));
}

synth::Synth_Settings synth_settings(const Options& options) {
    synth::Synth_Settings settings;
    settings.content.np_content = options.signal;
    settings.rhd_stream_count = 0;
    return settings;
}

// The simulation marker names the recording to replay: a given one (by its absolute path), or
// one synthesized here.
void write_simulation_recording(const Options& options) {
    if (!options.recording.empty()) {
        std::ofstream("MURA_NPAPI_ADAPTER_SIM") << options.recording << "\n";
        return;
    }
    synth::C_Stream_Synthesizer synthesizer(synth_settings(options));
    std::ofstream file("recording.bin", std::ios::binary);
    // Some more than asked for: a replay ends at the last whole mebibyte of the file.
    const double seconds = std::min(options.seconds, LONGEST_SIMULATION_SECONDS) + 0.25;
    const auto ticks = static_cast<uint64_t>(seconds * C_SpikeGLX_Run::AP_RATE);
    for (uint64_t done = 0; done < ticks && !g_stop_requested; done += 3000) {
        const auto bytes = synthesizer.next_ticks(std::min<uint64_t>(3000, ticks - done));
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::ofstream("MURA_NPAPI_ADAPTER_SIM") << "recording.bin\n";
}

// The adapter's settings file asking for its virtual box, its probes sending the chosen signal.
void write_virtual_box_settings(synth::Np_Content signal) {
    const char* content = signal == synth::Np_Content::sine   ? "sine"
                          : signal == synth::Np_Content::ramp ? "ramp"
                                                              : "neural";
    std::ofstream("MURA_NPAPI_ADAPTER_SETTINGS") << "# written by np3-acquire --virtual\n"
                                                 << "device = virtual\n"
                                                 << "virtual_content = " << content << "\n";
}

// Simulation and the virtual box run in a scratch working directory of their own, so that
// the marker and settings files never meet the user's.
class Working_Directory {
public:
    explicit Working_Directory(Box box) {
        if (box == Box::hardware)
            return;
        m_previous = fs::current_path();
        m_scratch = fs::temp_directory_path() / fmt::format("np3-acquire-{}", ::getpid());
        fs::create_directories(*m_scratch);
        fs::current_path(*m_scratch);
    }
    ~Working_Directory() {
        if (!m_scratch)
            return;
        std::error_code ignored;
        fs::current_path(m_previous, ignored);
        fs::remove_all(*m_scratch, ignored);
    }
    Working_Directory(const Working_Directory&) = delete;
    Working_Directory& operator=(const Working_Directory&) = delete;

private:
    fs::path m_previous;
    std::optional<fs::path> m_scratch;
};

std::vector<acquire::Probe_Record> probe_records(const Options& options,
                                                 const host::Host_Options& host_options,
                                                 const host::Host_Result& result) {
    std::vector<acquire::Probe_Record> records;
    for (int port : options.ports) {
        acquire::Probe_Record record;
        record.port = port;
        record.identity = result.identities[static_cast<size_t>(port - 1)];
        record.settings = host_options.channels;
        record.gains = result.gains[static_cast<size_t>(port - 1)];
        records.push_back(std::move(record));
    }
    return records;
}

acquire::Sync_Record sync_record(const Options& options) {
    acquire::Sync_Record sync;
    if (options.sync == host::Sync_Routing::input)
        sync.source = acquire::Sync_Record::Source::input;
    else if (options.sync == host::Sync_Routing::clock)
        sync.source = acquire::Sync_Record::Source::clock;
    return sync;
}

std::string losses_text(const acquire::Stream_Losses& losses, double rate) {
    return fmt::format("{} gaps, {:.3f} s", losses.gaps, static_cast<double>(losses.samples) / rate);
}

void print_summary(std::FILE* out, const Options& options, const host::Host_Result& result,
                   const C_Acquisition_Status& status, const C_SpikeGLX_Run& run) {
    const double seconds = result.seconds > 0 ? result.seconds : status.elapsed_seconds();
    fmt::print(out, "\n{:>4}  {:>5}  {:<16} {:>12}  {:<10} {:>9} {:>9} {:>7} {:>10}  {}\n", "port", "imec",
               "probe", "serial", "headstage", "packets", "data (s)", "MB/s", "FIFO peak", "lost");
    int imec = 0;
    std::vector<int> ports = options.ports;
    std::sort(ports.begin(), ports.end());
    for (int port : ports) {
        const auto& identity = result.identities[static_cast<size_t>(port - 1)];
        const uint64_t packets = status.packets(port);
        const double rate =
            seconds > 0 ? static_cast<double>(packets) * sizeof(electrodePacket) / seconds / 1e6 : 0;
        fmt::print(
            out, "{:>4}  {:>5}  {:<16} {:>12}  {:<10} {:>9} {:>9.2f} {:>7.1f} {:>6}/{}  {}\n", port, imec++,
            identity.probe_part_number, identity.probe_serial_number, identity.headstage_part_number, packets,
            static_cast<double>(run.ap_rows(port)) / C_SpikeGLX_Run::AP_RATE, rate, status.fifo_peak(port),
            C_Acquisition_Status::FIFO_DEPTH, losses_text(run.losses(port), C_SpikeGLX_Run::AP_RATE));
    }
    fmt::print(out, "ADC packets: {} ({:.2f} s), lost: {}\n", status.adc_packets(),
               static_cast<double>(status.adc_packets()) / C_SpikeGLX_Run::ADC_RATE,
               losses_text(run.adc_losses(), C_SpikeGLX_Run::ADC_RATE));
}

#if !defined(_WIN32)
std::string shell_quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// scripts/plot-run, installed as share/np3_bridge/plot-run beside the tools' folder.
std::optional<fs::path> find_plot_script() {
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    std::vector<fs::path> candidates;
    if (!error)
        candidates.push_back(program.parent_path().parent_path() / "share" / "np3_bridge" / "plot-run");
    if (std::string(np3_source_dir()).size() > 0)
        candidates.push_back(fs::path(np3_source_dir()) / "scripts" / "plot-run");
    for (const auto& candidate : candidates) {
        if (fs::exists(candidate))
            return candidate;
    }
    return std::nullopt;
}
#endif

void plot(std::FILE* out, const fs::path& folder) {
#if defined(_WIN32)
    (void)folder;
    fmt::print(
        out, "plot: needs Debian's python3 with python3-neo, python3-scipy and python3-matplotlib (Linux)\n");
#else
    const auto script = find_plot_script();
    if (!script) {
        fmt::print(out, "plot: plot-run not found\n");
        return;
    }
    const std::string python = "/usr/bin/python3";
    if (std::system((python + " -c 'import neo, numpy, scipy, matplotlib' >/dev/null 2>&1").c_str()) != 0) {
        fmt::print(out,
                   "plot skipped: it needs python3-neo, python3-numpy, python3-scipy and python3-matplotlib "
                   "(scripts/bootstrap installs them)\n");
        return;
    }
    const std::string command =
        python + " " + shell_quoted(script->string()) + " " + shell_quoted(folder.string());
    std::fflush(out);
    // The script's own lines go with the library's into the log; the picture's path is ours.
    if (std::system(command.c_str()) != 0)
        fmt::print(out, "plot: plot-run failed (its messages are in np3_bridge.log)\n");
    else
        fmt::print(out, "plot: {}\n", (folder / (C_SpikeGLX_Run::run_name_of(folder) + ".png")).string());
#endif
}

int run(const Options& options) {
    const fs::path output = fs::absolute(options.output.empty() ? default_output() : options.output);
    fs::create_directories(output);
    C_SpikeGLX_Run spikeglx(output, options.ports);
    acquire::C_Console_Redirect console(output / "np3_bridge.log");
    std::FILE* out = console.terminal_out();
    g_terminal_err = console.terminal_err();
    logging::set_console_verbosity(options.verbosity);

    C_Acquisition_Status status(options.ports, out, console.out_is_terminal());

    Working_Directory working_directory(options.box());
    std::signal(SIGINT, on_interrupt);
    if (options.box() == Box::simulation) {
        if (options.seconds > LONGEST_SIMULATION_SECONDS)
            fmt::print(out,
                       "simulation: the recording holds {:.0f} s, data stop after it (--virtual streams "
                       "without end)\n",
                       LONGEST_SIMULATION_SECONDS);
        if (options.recording.empty())
            fmt::print(out, "simulation: synthesizing {:.1f} s of four probes\n",
                       std::min(options.seconds, LONGEST_SIMULATION_SECONDS));
        else
            fmt::print(out, "simulation: replaying {}\n", options.recording);
        std::fflush(out);
        write_simulation_recording(options);
    } else if (options.box() == Box::virtual_box) {
        write_virtual_box_settings(options.signal);
    }

    host::Host_Options host_options;
    host_options.ports = options.ports;
    host_options.sync = options.sync;
    host_options.channels.ap_gain = *acquire::np1_gain_index(options.ap_gain);
    host_options.channels.lfp_gain = *acquire::np1_gain_index(options.lf_gain);
    host_options.read_back_gains = true;
    host_options.duration = std::chrono::milliseconds(static_cast<int64_t>(options.seconds * 1000));
    host_options.stop_requested = &g_stop_requested;
    host_options.on_packet = [&](int port, const electrodePacket& packet) {
        spikeglx.add_packet(port, packet);
        status.count_packet(port);
        status.record_lost(port, spikeglx.losses(port).samples);
    };
    host_options.on_fifo_state = [&](int port, int available, int) {
        status.record_fifo_state(port, available);
    };
    host_options.on_adc_packets = [&](const Neuropixels::PacketInfo* info, const int16_t* samples,
                                      int count) {
        spikeglx.add_adc_packets(info, samples, count);
        status.count_adc_packets(count);
        status.record_lost(0, spikeglx.adc_losses().samples);
    };
    host_options.on_started = [&] { status.start(); };
    host_options.on_stopping = [&] { status.stop(); };

    fmt::print(out, "bringing up {} probe(s); the library's output goes to {}\n", options.ports.size(),
               (output / "np3_bridge.log").string());
    fmt::print(out, "acquiring for {:.1f} s (Ctrl-C stops early)\n", options.seconds);
    std::fflush(out);
    const host::Host_Result result = host::run_host_sequence(host_options);
    status.stop();
    std::signal(SIGINT, SIG_DFL);
    spikeglx.finish(probe_records(options, host_options, result), local_time_text(), sync_record(options));

    if (g_stop_requested)
        fmt::print(out, "stopped by Ctrl-C after {:.1f} s\n", result.seconds);
    if (!result.ok) {
        fmt::print(console.terminal_err(), "acquisition failed: {} (see {})\n", result.failure,
                   (output / "np3_bridge.log").string());
        return EXIT_FAILED;
    }
    print_summary(out, options, result, status, spikeglx);
    fmt::print(out, "run: {}\n", spikeglx.folder().string());
    if (options.plot)
        plot(out, output);
    uint64_t total = 0;
    for (int port : options.ports)
        total += status.packets(port);
    return total > 0 ? EXIT_SUCCESS : EXIT_FAILED;
}

} // namespace

int main(int argc, char** argv) {
    Selvan::MURA::tools::Command_Line app(
        "Acquire from the MURA box through the Neuropixels API of np3_bridge into a SpikeGLX run");
    Options options;
    const std::vector<std::pair<std::string, int>> signals{
        {"neural", static_cast<int>(synth::Np_Content::neural)},
        {"sine", static_cast<int>(synth::Np_Content::sine)},
        {"ramp", static_cast<int>(synth::Np_Content::ramp)}};
    const auto gain_check = [](const std::string& text) -> std::string {
        try {
            if (acquire::np1_gain_index(std::stoi(text)))
                return "";
        } catch (const std::exception&) {
        }
        return "a Neuropixels 1.0 gain: 50, 125, 250, 500, 1000, 1500, 2000 or 3000";
    };
    app.add_option("--seconds", options.seconds, "how long to acquire").range(0.1, 36000.0);
    app.add_option("--output", options.output,
                   "folder of the run (default np3_<date>_<time>); the run is named after it");
    app.add_option("--ports", options.ports, "API ports 1..4 to acquire").range(1, 4);
    const auto hardware =
        app.add_flag("--hardware", options.hardware,
                     "run in the current directory without the simulation marker (the real box)");
    const auto virtual_box =
        app.add_flag("--virtual", options.virtual_box, "use the library's virtual box").excludes(hardware);
    app.add_flag("--box-model", options.box_model,
                 "the same as --virtual (the box model, shipped as a module)");
    int signal = static_cast<int>(options.signal);
    app.add_option("--signal", signal, "what the simulated probes send: neural, sine or ramp")
        .one_of_mapped(signals);
    app.add_option("--ap-gain", options.ap_gain, "AP gain of every channel").check(gain_check);
    app.add_option("--lf-gain", options.lf_gain, "LF gain of every channel").check(gain_check);
    app.add_flag("--plot", options.plot, "draw the run with scripts/plot-run at the end");
    app.add_option("--recording", options.recording,
                   "simulation: replay this recording of the box's stream (mura-synth, a raw capture)")
        .check([](const std::string& path) {
            return std::ifstream(path, std::ios::binary) ? std::string() : "cannot read " + path;
        })
        .excludes(hardware)
        .excludes(virtual_box);
    int sync = static_cast<int>(options.sync);
    app.add_option(
           "--sync", sync,
           "what the probes' sync bit carries: the box's sync input, a 1 Hz clock of its own, or none")
        .one_of_mapped({{"input", static_cast<int>(host::Sync_Routing::input)},
                        {"clock", static_cast<int>(host::Sync_Routing::clock)},
                        {"none", static_cast<int>(host::Sync_Routing::none)}});
    app.add_option("-v,--verbosity", options.verbosity,
                   "library log lines up to this verbosity in np3_bridge.log")
        .range(-2, 9);
    if (const auto exit_code = app.parse(argc, argv))
        return *exit_code;
    options.signal = static_cast<synth::Np_Content>(signal);
    options.sync = static_cast<host::Sync_Routing>(sync);
    if (!options.recording.empty())
        options.recording = fs::absolute(options.recording).string();
    std::sort(options.ports.begin(), options.ports.end());
    options.ports.erase(std::unique(options.ports.begin(), options.ports.end()), options.ports.end());
    try {
        return run(options);
    } catch (const std::exception& e) {
        fmt::print(g_terminal_err, "np3-acquire: {}\n", e.what());
        return EXIT_USAGE;
    }
}
