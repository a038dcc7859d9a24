#include "C_Acquisition_Status.h"

#include "NeuropixAPI.h"

#include <fmt/format.h>

#include <cstdio>

#if !defined(_WIN32)
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace Selvan::MURA::acquire {
namespace {

using namespace std::chrono;

constexpr milliseconds TERMINAL_REFRESH{250};
constexpr milliseconds PLAIN_LINE_INTERVAL{1000};
constexpr size_t DEFAULT_WIDTH = 100;

std::string count_text(uint64_t count) {
    if (count >= 10'000'000)
        return fmt::format("{:.1f}M", static_cast<double>(count) / 1e6);
    if (count >= 10'000)
        return fmt::format("{:.1f}k", static_cast<double>(count) / 1e3);
    return fmt::format("{}", count);
}

size_t terminal_width(std::FILE* out) {
#if !defined(_WIN32)
    winsize size{};
    if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 10)
        return size.ws_col;
#else
    (void)out;
#endif
    return DEFAULT_WIDTH;
}

} // namespace

C_Acquisition_Status::C_Acquisition_Status(std::vector<int> ports, std::FILE* out, bool terminal)
    : m_ports(std::move(ports))
    , m_out(out)
    , m_terminal(terminal) {}

C_Acquisition_Status::~C_Acquisition_Status() {
    stop();
}

void C_Acquisition_Status::count_packet(int port) {
    m_counters[static_cast<size_t>(port - 1)].packets.fetch_add(1, std::memory_order_relaxed);
}

void C_Acquisition_Status::record_fifo_state(int port, int available) {
    Port_Counters& counters = m_counters[static_cast<size_t>(port - 1)];
    counters.fifo.store(available, std::memory_order_relaxed);
    int peak = counters.fifo_peak.load(std::memory_order_relaxed);
    while (available > peak && !counters.fifo_peak.compare_exchange_weak(peak, available)) {
    }
}

void C_Acquisition_Status::count_adc_packets(int count) {
    m_adc_packets.fetch_add(static_cast<uint64_t>(count), std::memory_order_relaxed);
}

void C_Acquisition_Status::record_lost(int port, uint64_t samples) {
    if (port == 0)
        m_adc_lost.store(samples, std::memory_order_relaxed);
    else
        m_counters[static_cast<size_t>(port - 1)].lost.store(samples, std::memory_order_relaxed);
}

uint64_t C_Acquisition_Status::lost() const {
    uint64_t total = m_adc_lost.load(std::memory_order_relaxed);
    for (int port : m_ports)
        total += m_counters[static_cast<size_t>(port - 1)].lost.load(std::memory_order_relaxed);
    return total;
}

uint64_t C_Acquisition_Status::packets(int port) const {
    return m_counters[static_cast<size_t>(port - 1)].packets.load(std::memory_order_relaxed);
}

int C_Acquisition_Status::fifo_peak(int port) const {
    return m_counters[static_cast<size_t>(port - 1)].fifo_peak.load(std::memory_order_relaxed);
}

double C_Acquisition_Status::elapsed_seconds() const {
    if (m_start == steady_clock::time_point{})
        return 0.0;
    return duration<double>(steady_clock::now() - m_start).count();
}

void C_Acquisition_Status::start() {
    m_start = steady_clock::now();
    m_last_line = m_start;
    m_thread = std::thread([this] { run(); });
}

void C_Acquisition_Status::stop() {
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping || !m_thread.joinable())
            return;
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void C_Acquisition_Status::run() {
    const milliseconds interval = m_terminal ? TERMINAL_REFRESH : PLAIN_LINE_INTERVAL;
    std::unique_lock lock(m_mutex);
    while (!m_wake.wait_for(lock, interval, [this] { return m_stopping; }))
        draw(false);
    draw(true);
}

std::string C_Acquisition_Status::status_line(double seconds) {
    std::string line = fmt::format("{:7.1f} s", elapsed_seconds());
    constexpr double PACKET_MB = sizeof(Neuropixels::electrodePacket) / 1e6;
    for (int port : m_ports) {
        Port_Counters& counters = m_counters[static_cast<size_t>(port - 1)];
        const uint64_t packets = counters.packets.load(std::memory_order_relaxed);
        const double rate =
            seconds > 0 ? static_cast<double>(packets - counters.packets_at_last_line) * PACKET_MB / seconds
                        : 0.0;
        counters.packets_at_last_line = packets;
        const int fill = counters.fifo.load(std::memory_order_relaxed) * 100 / FIFO_DEPTH;
        line += fmt::format(" | P{} {} {:.1f} MB/s fifo {}%", port, count_text(packets), rate, fill);
    }
    line += fmt::format(" | ADC {} | lost {}", count_text(adc_packets()), count_text(lost()));
    return line;
}

void C_Acquisition_Status::draw(bool last) {
    const auto now = steady_clock::now();
    const double seconds = duration<double>(now - m_last_line).count();
    m_last_line = now;
    std::string line = status_line(seconds);
    if (m_terminal) {
        const size_t width = terminal_width(m_out);
        if (line.size() >= width)
            line.resize(width - 1);
        // Back to the line's start, the new text, the rest of the old one erased.
        fmt::print(m_out, "\r{}\x1b[K{}", line, last ? "\n" : "");
    } else {
        fmt::print(m_out, "{}\n", line);
    }
    std::fflush(m_out);
}

} // namespace Selvan::MURA::acquire
