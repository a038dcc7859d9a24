#pragma once

#include "C_Stream_Synthesizer.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace Selvan::MURA::synth {

// The synthesizer's stream for runs of any length at about the cost of copying it: each port's
// probe content is rendered once into a loop of whole super frames, and each tick copies its
// super frames out of the loops with what must never repeat written as it goes: the rows'
// counters, the probes' frame counters (and, for the counter content, the high digits of the
// super frame number the samples spell) and the RHD frames with their timestamp and TTL words.
//
// Rows go out in C_Stream_Synthesizer's order and format (faults are not offered). Where the
// content repeats within its loop (ramp, counter, PSB test pattern) the bytes are exactly the
// synthesizer's; the sine's loop holds a whole number of its periods; the neural content, which
// never repeats, comes from one loop of a few seconds in which every port reads at its own
// place, so that at any moment the ports send different data.
class C_Looped_Stream_Synthesizer {
public:
    static constexpr uint32_t SUPER_FRAME_WORDS = C_Stream_Synthesizer::ROWS_PER_SUPER_FRAME * 7;

    // What a port's probe sends: the content of the settings, or what its self tests ask of it
    // (the PSB test pattern, also with a wrong bit, or the 1.2 kHz test signal).
    enum class Port_Output { content, psb_test_pattern, broken_psb_test_pattern, test_signal };

    // Renders the loops. When `cancel` becomes true meanwhile, rendering stops early and the
    // object must not be used.
    explicit C_Looped_Stream_Synthesizer(Synth_Settings settings, const std::atomic<bool>* cancel = nullptr);

    // The most bytes one tick takes.
    size_t max_tick_bytes() const { return m_max_tick_bytes; }
    // Bytes a tick sends on average: all of them, or those of `np_ports` probes and, with
    // `rhd`, of the RHD frames.
    double bytes_per_tick(uint32_t np_ports, bool rhd) const;
    // Writes the rows of the next tick at `buffer`, which has room for max_tick_bytes().
    size_t render_tick(uint8_t* buffer);
    // As C_Stream_Synthesizer::skip_ticks and restart_frame_counters.
    void skip_ticks(uint64_t ticks);
    uint64_t restart_frame_counters();

    // From the next tick on (the loops of the self tests' outputs are made on first use).
    void set_port_output(uint32_t port, Port_Output output);

    uint64_t ticks_rendered() const { return m_tick; }
    const C_Synth_Content& content() const { return m_content; }
    // Memory the loops take.
    size_t loop_bytes() const;

private:
    struct Port_Loop {
        std::shared_ptr<const std::vector<uint16_t>> words; // super frames of SUPER_FRAME_WORDS
        uint64_t super_frames = 0;
        uint64_t offset = 0; // where in the loop this port reads at super frame 0
    };
    // A word of a super frame that the counter content rewrites.
    struct Patch {
        uint16_t index;
        uint16_t word;
    };

    uint32_t rhd_frame_words() const;
    void render_loops(const std::atomic<bool>* cancel);
    static std::shared_ptr<std::vector<uint16_t>> render_loop(const C_Synth_Content& content, uint32_t port,
                                                              uint64_t length,
                                                              const std::atomic<bool>* cancel);
    const Port_Loop& output_loop(Port_Output output);
    void prepare_super_frame(uint32_t port, uint64_t super_frame);
    void patch_frame_counters(uint16_t* words, uint64_t super_frame) const;
    void patch_counter_content(uint32_t port, uint16_t* words, uint64_t super_frame);
    void queue_rhd_frame(uint64_t frame);
    uint8_t* write_row(uint8_t* out, uint32_t stream, const uint16_t* words);

    Synth_Settings m_settings;
    C_Synth_Content m_content;
    std::array<Port_Loop, 4> m_loops;
    std::array<Port_Output, 4> m_outputs{};
    std::array<Port_Loop, 4> m_output_loops; // by Port_Output, made on first use
    uint64_t m_tick = 0;
    // The tick whose RHD frame carries timestamp 0: the RHD timestamps restart with the probes'
    // frame counters, so that a frame's timestamp is the number of the super frames sent with it.
    uint64_t m_rhd_origin = 0;
    uint64_t m_frame_counter_origin = 0;
    size_t m_max_tick_bytes = 0;
    std::array<std::array<uint16_t, SUPER_FRAME_WORDS>, 4> m_super_frames{};
    std::vector<uint16_t> m_rhd_pending;
    size_t m_rhd_start = 0;
    std::array<uint8_t, 5> m_row_counters{};
    // The counter content's digits above the lowest, per port: constant for 1,024 super frames
    // (AP) or 1,024 LFP samples (LFP, per slot), so made once per such block.
    std::array<std::vector<Patch>, 4> m_ap_digits;
    std::array<std::array<std::vector<Patch>, 12>, 4> m_lfp_digits;
    std::array<uint64_t, 4> m_ap_digits_block{};
    std::array<uint64_t, 4> m_lfp_digits_block{};
};

} // namespace Selvan::MURA::synth
