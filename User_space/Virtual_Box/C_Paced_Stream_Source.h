#pragma once

#include "C_Looped_Stream_Synthesizer.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace Selvan::MURA::box_model {

// The card-to-host stream at the real box's rate, for the virtual box: time runs in ticks of one
// AP sample period (1/30,000 s), which come due with the wall clock, `speed` times faster.
// The rows of due ticks come from the looped stream synthesizer (endless; its loops are
// rendered once) or from a recording (looped; its ticks are counted by the super-frame starts of
// its first NP stream). A reader that leaves more than BACKLOG_TICKS waiting loses the oldest,
// as the box's FIFOs would overflow; a reader that comes back after a pause therefore gets what
// the box sends now, not what it sent then.
class C_Paced_Stream_Source {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr uint64_t TICKS_PER_SECOND = 30000;
    static constexpr uint64_t BACKLOG_TICKS = 15000;   // half a second
    static constexpr uint64_t MAX_TICKS_PER_FILL = 64; // of a recording

    // Renders the synthesizer's loops (a fraction of a second, once per virtual box).
    C_Paced_Stream_Source(const synth::Synth_Settings& settings, double speed);
    C_Paced_Stream_Source(std::shared_ptr<const std::vector<uint8_t>> recording, double speed);
    C_Paced_Stream_Source(const C_Paced_Stream_Source&) = delete;
    C_Paced_Stream_Source& operator=(const C_Paced_Stream_Source&) = delete;

    // Whole rows of due ticks, at most `capacity` bytes; 0 when nothing is due yet.
    size_t fill(uint8_t* buffer, size_t capacity);
    // When `bytes` more of the stream are due than fill has delivered, counting the rows of
    // `np_ports` probes and, with `rhd`, of the RHD frames: when a device read of that many
    // bytes can be served whole. Call it on the thread that fills.
    Clock::time_point due_time(size_t bytes, uint32_t np_ports, bool rhd);
    // Asked at every fill what each port's probe sends (its self tests switch it to their test
    // data); set before the first fill.
    using Port_Output = synth::C_Looped_Stream_Synthesizer::Port_Output;
    void set_port_outputs(std::function<Port_Output(uint32_t port)> outputs) {
        m_port_outputs = std::move(outputs);
    }
    // Acquisition was triggered: the synthesized probes count their frames from 0 again, and
    // nothing rendered before goes out. Safe to call from another thread than fill's.
    void trigger() { m_triggered = true; }
    // When super frame n of the synthesized run (n counted by the probes' frame counters from
    // the trigger) was sent whole: for measuring how late a reader gets it. Empty before the
    // trigger has been taken up by a fill. Safe to call from any thread.
    std::optional<Clock::time_point> run_super_frame_sent(uint64_t n) const;
    // Ticks lost because a reader fell behind by more than BACKLOG_TICKS, since the last call.
    uint64_t take_overflow_ticks() { return m_overflow_ticks.exchange(0); }

private:
    uint64_t ticks_due() const;
    uint64_t ticks_to_send(bool triggered);
    size_t take_rendered(uint8_t* buffer, size_t capacity);
    size_t send_ticks(uint8_t* buffer, size_t capacity, uint64_t ticks);
    void render_recording(uint64_t ticks);
    void skip(uint64_t ticks);
    synth::C_Looped_Stream_Synthesizer* synthesizer() { return m_synthesizer.get(); }

    std::unique_ptr<synth::C_Looped_Stream_Synthesizer> m_synthesizer;
    std::function<Port_Output(uint32_t port)> m_port_outputs;
    std::shared_ptr<const std::vector<uint8_t>> m_recording;
    size_t m_recording_position = 0;
    size_t m_recording_bytes_per_tick = 0;
    double m_speed;
    Clock::time_point m_start = Clock::now();
    uint64_t m_ticks_passed = 0; // rendered or skipped
    std::vector<uint8_t> m_rows;
    size_t m_rows_start = 0;
    std::atomic<bool> m_triggered{false};
    static constexpr uint64_t NO_RUN = ~uint64_t{0};
    std::atomic<uint64_t> m_run_first_tick{NO_RUN};
    std::atomic<uint64_t> m_overflow_ticks{0};
};

} // namespace Selvan::MURA::box_model
