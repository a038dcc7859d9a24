// np3-soak: runs the whole life of a host many times in one process, against the library's
// virtual box, to find what only shows after many cycles: threads or memory that are not given
// back, a call that hangs one time in a hundred, a reader that is not released, data that goes
// wrong after a restart. Each cycle opens the basestation, configures every probe, starts (in
// turn with start_acquisition and with arm + setSWTrigger), reads on blocked reader threads,
// stops at a random moment (in turn with stop_acquisition and with arm, the readers told to
// exit first as published hosts do) and closes (in turn once, and once per probe plus once).
// It ends with one line: soak: N cycles, F failures, H hangs, T threads left, RSS growth X MiB;
// and one of what the library and the virtual box cost: data: S s per port, cpu: C s per s of
// data, box overflow reports: R. With --run-seconds every run lasts that long, which makes it a
// published-API host's benchmark on the virtual box.

#include "C_Console_Redirect.h"
#include "NeuropixAPI.h"
#include "Synth_Packet_Checker.h"

#include "Command_Line.h"
#include "Process_Times.h"
#include <fmt/format.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <process.h>
#include <windows.h>
// After windows.h:
#include <psapi.h>
#include <tlhelp32.h>
#else
#include <unistd.h>
#endif

namespace {

using namespace Neuropixels;
using Selvan::MURA::acquire::C_Console_Redirect;
using Checker = Selvan::MURA::synth::Synth_Packet_Checker<electrodePacket>;
using Selvan::MURA::synth::Np_Content;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int PORTS = 4;
constexpr int DOCK = 1;
constexpr int READ_SIZE = 64;
// A call or a released reader that takes longer than this counts as a hang (the library's own
// longest wait, for a pump that does not stop, is 30 s).
constexpr auto HANG_LIMIT = std::chrono::seconds(35);

constexpr double PACKETS_PER_SECOND = 30000.0 / 12;
// What the virtual box says when a reader left its data waiting too long.
constexpr const char* BOX_OVERFLOW_REPORT = "the stream was not read in time";

struct Options {
    int cycles = 100;
    double longest_run_seconds = 1.0;
    double run_seconds = 0; // 0: a random moment up to longest_run_seconds
    double speed = 1.0;
    unsigned seed = 1;
    bool check_data = true;
    std::string content = "counter";
    std::string log_file = "np3_soak.log";
};

struct Tally {
    int cycles = 0;
    int failures = 0;
    int hangs = 0;
    std::atomic<uint64_t> packets{0};
    std::atomic<double> reader_cpu_seconds{0};
};

void add(std::atomic<double>& total, double value) {
    double current = total.load();
    while (!total.compare_exchange_weak(current, current + value)) {
    }
}

// Only these contents can be checked sample for sample.
std::optional<Np_Content> checked_content(const std::string& content) {
    if (content == "counter")
        return Np_Content::counter;
    if (content == "ramp")
        return Np_Content::ramp;
    return std::nullopt;
}

// --- what the process holds ---

int thread_count() {
#if defined(_WIN32)
    const DWORD process = GetCurrentProcessId();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == process;
    CloseHandle(snapshot);
    return count;
#else
    int count = 0;
    std::error_code error;
    for (auto it = fs::directory_iterator("/proc/self/task", error); !error && it != fs::directory_iterator();
         it.increment(error))
        ++count;
    return count;
#endif
}

double resident_mib() {
#if defined(_WIN32)
    PROCESS_MEMORY_COUNTERS counters{};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return static_cast<double>(counters.WorkingSetSize) / (1024.0 * 1024.0);
#else
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kib = 0;
            status >> kib;
            return kib / 1024.0;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
#endif
}

// --- one cycle ---

// A host's reader thread: 64 packets at a time, blocked while nothing is queued, until told to
// exit or a read returns empty-handed after the stop. Its state is shared, so a reader that
// hangs can be left behind without touching freed memory.
struct Reader {
    std::atomic<bool> exit{false};
    std::atomic<bool> returned{false};
    std::atomic<uint64_t> packets{0};
    std::string failure;
    std::thread thread;
};

// The readers' own processor time (copying and checking) is counted apart, so that what is
// left is the library's and the virtual box's.
void read_port(int port, std::optional<Np_Content> check, const std::shared_ptr<Reader>& reader,
               Tally& tally) {
    std::vector<electrodePacket> packets(READ_SIZE);
    std::optional<Checker> checker;
    if (check)
        checker.emplace(static_cast<uint32_t>(port - 1), *check);
    while (!reader->exit) {
        int count = 0;
        const NP_ErrorCode result = readElectrodeData(0, port, 0, packets.data(), &count, READ_SIZE);
        if (result != SUCCESS) {
            reader->failure =
                fmt::format("readElectrodeData of port {} answered {}", port, getErrorMessage(result));
            break;
        }
        for (int i = 0; i < count && checker; ++i) {
            if (!checker->check(packets[static_cast<size_t>(i)]))
                reader->failure = checker->failure();
        }
        reader->packets += static_cast<uint64_t>(count);
        // Reads return at once: as hosts do, sleep while the missing packets come (400 µs each).
        int available = 0, headroom = 0;
        getElectrodeDataFifoState(0, port, 0, &available, &headroom);
        if (available < READ_SIZE)
            std::this_thread::sleep_for(std::chrono::microseconds(400) * (READ_SIZE - available));
    }
    tally.packets += reader->packets;
    add(tally.reader_cpu_seconds, Selvan::MURA::tools::thread_cpu_seconds());
    reader->returned = true;
}

class Soak_Cycle {
public:
    Soak_Cycle(const Options& options, int index, std::mt19937& random, Tally& tally)
        : m_options(options)
        , m_index(index)
        , m_random(random)
        , m_tally(tally) {}

    // Returns an empty text when the cycle went well, else what went wrong; `hung` is set when
    // a call or a reader did not come back.
    std::string run(bool& hung) {
        std::string failure = open_and_configure();
        if (failure.empty())
            failure = acquire(hung);
        const std::string closing = close(hung);
        return failure.empty() ? closing : failure;
    }

private:
    std::string step(const char* what, NP_ErrorCode result) {
        return result == SUCCESS ? std::string()
                                 : fmt::format("{} answered {}", what, getErrorMessage(result));
    }

    std::string open_and_configure() {
        if (std::string failure = step("openBS", openBS(0)); !failure.empty())
            return failure;
        for (int port = 1; port <= PORTS; ++port) {
            bool detected = false;
            std::string failure = step("detectHeadStage", detectHeadStage(0, port, &detected));
            if (failure.empty() && !detected)
                failure = fmt::format("no headstage detected on port {}", port);
            for (auto next :
                 {step("openProbe", openProbe(0, port, DOCK)), step("init", init(0, port, DOCK)),
                  step("setOPMODE", setOPMODE(0, port, DOCK, RECORDING)),
                  step("setGain", setGain(0, port, DOCK, m_index % 384, 3, 2)),
                  step("writeProbeConfiguration", writeProbeConfiguration(0, port, DOCK, true))}) {
                if (failure.empty())
                    failure = next;
            }
            if (!failure.empty())
                return fmt::format("port {}: {}", port, failure);
        }
        return {};
    }

    bool published_style() const { return m_index % 2 == 1; }

    std::string acquire(bool& hung) {
        std::array<std::shared_ptr<Reader>, PORTS> readers;
        for (int port = 1; port <= PORTS; ++port) {
            auto reader = std::make_shared<Reader>();
            const auto check = m_options.check_data ? checked_content(m_options.content) : std::nullopt;
            reader->thread = std::thread(read_port, port, check, reader, std::ref(m_tally));
            readers[static_cast<size_t>(port - 1)] = reader;
        }
        std::string failure;
        if (published_style()) {
            failure = step("arm", arm(0));
            if (failure.empty())
                failure = step("setSWTrigger", setSWTrigger(0));
        } else {
            failure = step("start_acquisition", start_acquisition(0, 1));
        }
        std::uniform_real_distribution<double> run_time(0.0, m_options.longest_run_seconds);
        const double seconds = run_time(m_random);
        std::this_thread::sleep_for(
            std::chrono::duration<double>(m_options.run_seconds > 0 ? m_options.run_seconds : seconds));
        for (auto& reader : readers)
            reader->exit = true;
        if (failure.empty())
            failure = published_style() ? step("arm", within_limit([] { return arm(0); }, hung))
                                        : step("stop_acquisition",
                                               within_limit([] { return stop_acquisition(0, 1); }, hung));
        for (auto& reader : readers)
            join_or_leave(*reader, hung);
        for (const auto& reader : readers) {
            if (failure.empty() && reader->returned)
                failure = reader->failure;
        }
        return failure;
    }

    std::string close(bool& hung) {
        if (m_index % 3 == 2) {
            // Some hosts close once per probe, then once more.
            for (int i = 0; i < PORTS; ++i)
                within_limit([] { return closeBS(0); }, hung);
        }
        return step("closeBS", within_limit([] { return closeBS(0); }, hung));
    }

    static NP_ErrorCode within_limit(NP_ErrorCode (*call)(), bool& hung) {
        auto done = std::make_shared<std::promise<NP_ErrorCode>>();
        std::future<NP_ErrorCode> result = done->get_future();
        // Joined when it returns: a detached caller's thread record is recycled by the Windows
        // build's thread library while the thread still exits, which can stall the next one.
        std::thread caller([call, done] { done->set_value(call()); });
        if (result.wait_for(HANG_LIMIT) != std::future_status::ready) {
            hung = true;
            caller.detach();
            return FAILED;
        }
        caller.join();
        return result.get();
    }

    static void join_or_leave(Reader& reader, bool& hung) {
        const auto deadline = Clock::now() + HANG_LIMIT;
        while (!reader.returned && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (reader.returned) {
            reader.thread.join();
        } else {
            hung = true;
            reader.thread.detach();
        }
    }

    const Options& m_options;
    int m_index;
    std::mt19937& m_random;
    Tally& m_tally;
};

// The virtual box, its probes sending the counter content that the readers check, runs in a
// scratch working directory of its own so that its settings file never meets the user's.
class Scratch_Box {
public:
    Scratch_Box(double speed, const std::string& content) {
        m_previous = fs::current_path();
        m_folder = fs::temp_directory_path() / fmt::format("np3-soak-{}", ::getpid());
        fs::create_directories(m_folder);
        fs::current_path(m_folder);
        std::ofstream("MURA_NPAPI_ADAPTER_SETTINGS") << "# written by np3-soak\n"
                                                     << "device = virtual\n"
                                                     << "virtual_content = " << content << "\n"
                                                     << "virtual_speed = " << speed << "\n";
    }
    ~Scratch_Box() {
        std::error_code ignored;
        fs::current_path(m_previous, ignored);
        fs::remove_all(m_folder, ignored);
    }
    Scratch_Box(const Scratch_Box&) = delete;
    Scratch_Box& operator=(const Scratch_Box&) = delete;

private:
    fs::path m_previous;
    fs::path m_folder;
};

int count_lines_holding(const fs::path& file, const std::string& text) {
    std::ifstream in(file);
    int count = 0;
    for (std::string line; std::getline(in, line);)
        count += line.find(text) != std::string::npos;
    return count;
}

void report_cost(const Tally& tally, double cpu_seconds, int overflow_reports, std::FILE* out) {
    const double data_seconds = static_cast<double>(tally.packets) / PORTS / PACKETS_PER_SECOND;
    const double library_cpu = cpu_seconds - tally.reader_cpu_seconds;
    fmt::print(out, "data: {:.2f} s per port, cpu: {:.3f} s per s of data, box overflow reports: {}\n",
               data_seconds, data_seconds > 0 ? library_cpu / data_seconds : 0.0, overflow_reports);
}

int soak(const Options& options, const fs::path& log_file, std::FILE* out) {
    Tally tally;
    const double cpu_start = Selvan::MURA::tools::process_cpu_seconds();
    std::mt19937 random(options.seed);
    // A first thread makes the runtime start what it starts once per process (a sanitizer's
    // background thread), so that only what the cycles leave behind is counted.
    std::thread([] {}).join();
    const int threads_before = thread_count();
    double resident_after_first = 0;
    {
        Scratch_Box box(options.speed, options.content);
        for (int index = 0; index < options.cycles; ++index) {
            bool hung = false;
            const std::string failure = Soak_Cycle(options, index, random, tally).run(hung);
            ++tally.cycles;
            tally.hangs += hung;
            if (!failure.empty() || hung) {
                ++tally.failures;
                fmt::print(out, "cycle {}: {}\n", index + 1, hung ? "a call or a reader hung" : failure);
            }
            // Growth counts from the first cycle that read data: the virtual box renders its
            // content once, and the first data waits for it.
            if (resident_after_first == 0 && tally.packets > 0)
                resident_after_first = resident_mib();
            if (hung)
                break; // what hangs holds the adapter; later cycles would only repeat it
        }
    }
    // Threads that ran a timed call end a moment after they answered.
    int threads_left = thread_count() - threads_before;
    for (int wait = 0; wait < 100 && threads_left > 0; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        threads_left = thread_count() - threads_before;
    }
    const double growth = resident_mib() - resident_after_first;
    const double cpu_seconds = Selvan::MURA::tools::process_cpu_seconds() - cpu_start;
    fmt::print(out, "soak: {} cycles, {} failures, {} hangs, {} threads left, RSS growth {:.1f} MiB\n",
               tally.cycles, tally.failures, tally.hangs, threads_left, growth);
    std::fflush(stderr);
    report_cost(tally, cpu_seconds, count_lines_holding(log_file, BOX_OVERFLOW_REPORT), out);
    return tally.failures == 0 && tally.hangs == 0 && threads_left <= 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    Selvan::MURA::tools::Command_Line app("Cycles a host's whole life many times against the virtual box");
    app.add_option("--cycles", options.cycles, "how many cycles to run").range(1, 1000000);
    app.add_option("--longest-run", options.longest_run_seconds, "longest acquisition of a cycle, in seconds")
        .range(0.0, 3600.0);
    app.add_option("--run-seconds", options.run_seconds,
                   "every acquisition lasts this long, in seconds (instead of a random moment)")
        .range(0.0, 86400.0);
    app.add_option("--speed", options.speed, "the virtual box's rate, as a fraction of the real box's")
        .range(0.01, 1.0);
    app.add_option("--content", options.content,
                   "what the virtual box's probes send: counter or ramp (checked), neural or sine")
        .one_of({"counter", "ramp", "neural", "sine"});
    app.add_option("--seed", options.seed, "seed of the random stop moments");
    app.add_option("--log", options.log_file, "where the library's console output goes");
    bool no_data_check = false;
    app.add_flag("--no-data-check", no_data_check,
                 "do not check every sample (for slow builds that cannot keep up with the box)");
    if (const auto exit_code = app.parse(argc, argv))
        return *exit_code;
    options.check_data = !no_data_check;
    try {
        const fs::path log_file = fs::absolute(options.log_file);
        C_Console_Redirect redirect(log_file);
        return soak(options, log_file, redirect.terminal_out());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "np3-soak: %s\n", e.what());
        return 1;
    }
}
