#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Selvan::MURA::acquire {

// What a person watches during an acquisition: on a terminal one status line redrawn in place
// (elapsed time; per port the packets read, the data rate and the FIFO fill; ADC packets; the
// samples lost), otherwise the same line printed periodically. The reader threads count into
// it without locks; its own thread draws. Lost samples are those the packets' timestamps show
// missing, whatever lost them (the box, the link, a full queue), on the acquired ports and the
// ADC stream.
class C_Acquisition_Status {
public:
    static constexpr int FIFO_DEPTH = 500;

    C_Acquisition_Status(std::vector<int> ports, std::FILE* out, bool terminal);
    C_Acquisition_Status(const C_Acquisition_Status&) = delete;
    C_Acquisition_Status& operator=(const C_Acquisition_Status&) = delete;
    ~C_Acquisition_Status();

    void count_packet(int port);
    void record_fifo_state(int port, int available);
    void count_adc_packets(int count);
    // The samples a port's (0: the ADC stream's) timestamps show missing so far.
    void record_lost(int port, uint64_t samples);

    // Starts the clock and the display; stop ends the display with a last line.
    void start();
    void stop();

    uint64_t packets(int port) const;
    int fifo_peak(int port) const;
    uint64_t adc_packets() const { return m_adc_packets; }
    uint64_t lost() const;
    double elapsed_seconds() const;

    // The line as it stands, for `seconds` since the previous one.
    std::string status_line(double seconds);

private:
    struct Port_Counters {
        std::atomic<uint64_t> packets{0};
        std::atomic<int> fifo{0};
        std::atomic<int> fifo_peak{0};
        uint64_t packets_at_last_line = 0;
        std::atomic<uint64_t> lost{0};
    };

    void run();
    void draw(bool last);

    std::vector<int> m_ports;
    std::array<Port_Counters, 4> m_counters;
    std::atomic<uint64_t> m_adc_packets{0};
    std::atomic<uint64_t> m_adc_lost{0};
    std::FILE* m_out;
    bool m_terminal;
    std::chrono::steady_clock::time_point m_start{};
    std::chrono::steady_clock::time_point m_last_line{};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace Selvan::MURA::acquire
