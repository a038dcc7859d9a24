#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace Selvan::MURA::acquire {

// What a person watches during an acquisition: on a terminal one status line redrawn in place
// (elapsed time; per port the packets read, the data rate and the FIFO fill; ADC packets;
// packets lost), otherwise the same line printed periodically. The reader threads count into
// it without locks; its own thread draws.
//
// Lost packets are those the library's output queues dropped because they were full. The
// library reports a drop once per 256 (its "MT_NP_PXI_Queue overflow" line, shared by every
// queue), so the count shown while acquiring is the least number the reports prove. At the stop
// the library logs the exact figures per port (packets dropped at its queue, super frames
// dropped after rows lost on the way) and for the ADC queue; the summary shows those.
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
    void count_drop_report();
    // Parses the library's exact loss lines; other texts are ignored.
    void record_loss_report(std::string_view text);

    // Starts the clock and the display; stop ends the display with a last line. Drops are
    // counted only in between: after the stop, data still in flight meets queues that nobody
    // reads any more.
    void start();
    void stop();

    uint64_t packets(int port) const;
    int fifo_peak(int port) const;
    uint64_t adc_packets() const { return m_adc_packets; }
    uint64_t lost_at_least() const;
    bool exact_losses_known() const { return m_exact_losses_known; }
    uint64_t np_packets_dropped() const;
    uint64_t adc_packets_dropped() const { return m_adc_dropped; }
    uint64_t super_frames_lost() const;
    double elapsed_seconds() const;

    // The line as it stands, for `seconds` since the previous one.
    std::string status_line(double seconds);

private:
    struct Port_Counters {
        std::atomic<uint64_t> packets{0};
        std::atomic<int> fifo{0};
        std::atomic<int> fifo_peak{0};
        uint64_t packets_at_last_line = 0;
        std::atomic<uint64_t> dropped{0};
        std::atomic<uint64_t> super_frames_lost{0};
    };

    void run();
    void draw(bool last);

    std::vector<int> m_ports;
    std::array<Port_Counters, 4> m_counters;
    std::atomic<uint64_t> m_adc_packets{0};
    std::atomic<uint64_t> m_drop_reports{0};
    std::atomic<uint64_t> m_adc_dropped{0};
    std::atomic<bool> m_exact_losses_known{false};
    std::atomic<bool> m_acquiring{false};
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
