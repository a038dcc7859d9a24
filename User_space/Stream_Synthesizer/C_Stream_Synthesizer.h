#pragma once

#include "C_Synth_Content.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace Selvan::MURA::synth {

// Deliberate faults. `stream` is 0..3 for an NP port, 4 for RHD; `index` counts from the start
// of the recording in the unit the kind names.
enum class Fault_Kind {
    lost_row,                  // row `index` of the stream is not sent; its row counter is used up
    duplicated_row,            // row `index` of the stream is sent twice, with the same row counter
    counter_jump,              // from row `index` on, the stream's row counters are `value` higher
    bad_marker,                // row `index` of the stream carries marker nibble `value`
    unknown_stream_id,         // a row with stream id `value` (5..15) goes out before row `index`
    bad_lane_tag,              // row `index` of an NP port: word `value` (0..6) carries tag 0x9
    missing_super_frame_start, // super frame `index` of an NP port lacks the start bit
    broken_preamble,           // RHD frame `index`: preamble word `value` (0..3) is sent as 0
    lost_super_frames,         // super frames `index` to `index` + `value` - 1 of an NP port are not
                               // sent at all, as when the box drops data it could not deliver (the
                               // row counters run on; the probe's frame counter jumps)
};

struct Fault {
    Fault_Kind kind;
    uint32_t stream = 0;
    uint64_t index = 0;
    uint32_t value = 0;
};

struct Synth_Settings {
    Content_Settings content;
    std::vector<uint32_t> np_ports{0, 1, 2, 3};
    bool rhd = true;
    uint32_t rhd_stream_count = 0;
    // The first super frame's number: its frames carry frame counters from 13 times this.
    uint64_t first_super_frame = 0;
    std::vector<Fault> faults;
};

// Throws std::invalid_argument unless the NP ports are 0..3 and the RHD streams at most 32.
void check_stream_layout(const Synth_Settings& settings);
// The 16-bit words of one RHD frame with that many data streams.
constexpr uint32_t rhd_frame_words(uint32_t rhd_stream_count) {
    return 20 + 35 * rhd_stream_count + rhd_stream_count % 4;
}

// Writes the box's multiplexed card-to-host stream: 16-byte rows of marker 0xD and stream id,
// a per-stream row counter and seven payload words. Time advances in ticks of one AP sample
// period (1/30,000 s): per tick every enabled port sends one PSB super frame (65 rows) and the
// RHD headstages one frame, the rows of all streams interleaved as the box's multiplexer
// takes them from its FIFOs. RHD words run on across rows and ticks. Deterministic for given
// settings; the stream is endless and is pulled in chunks of whole rows.
class C_Stream_Synthesizer {
public:
    static constexpr uint32_t ROW_BYTES = 16;
    static constexpr uint32_t ROW_WORDS = 7;
    static constexpr uint32_t ROWS_PER_SUPER_FRAME = 65;
    static constexpr uint32_t RHD_STREAM_ID = 4;
    static constexpr uint64_t RHD_PREAMBLE = 0xD7A22AAA38132A53ull;

    explicit C_Stream_Synthesizer(Synth_Settings settings);

    // Fills the buffer with whole rows (capacity rounded down to a multiple of 16) and returns
    // the bytes written.
    size_t fill(uint8_t* buffer, size_t capacity);
    // Exactly the rows of the next `ticks` ticks, and nothing of the tick after them. Must be
    // called at a tick boundary (before any fill, or after a previous call of this).
    std::vector<uint8_t> next_ticks(uint64_t ticks);
    // Lets `ticks` ticks pass unsent, as the box does while a reader leaves its FIFOs full:
    // the next rows belong to the tick after them, and a partly sent tick and RHD frame are
    // lost. Row counters go on from the last row sent.
    void skip_ticks(uint64_t ticks);
    // The probes count their frames from 0 again, as after a trigger: from the next tick that
    // starts an LFP cycle (a multiple of 12 super frames), so that the LFP slots stay where the
    // decoder expects them; the ticks before it are skipped. The RHD frames' timestamps count
    // from 0 again at the same tick. Returns how many ticks were skipped.
    uint64_t restart_frame_counters();

    const C_Synth_Content& content() const { return m_content; }
    const Synth_Settings& settings() const { return m_settings; }
    uint64_t ticks_rendered() const { return m_tick; }
    // RHD words sent so far (a frame is complete once all its words are out).
    uint64_t rhd_words_sent() const { return m_rhd_words_sent; }
    uint32_t rhd_frame_words() const { return synth::rhd_frame_words(m_settings.rhd_stream_count); }

private:
    using Row_Words = std::array<uint16_t, ROW_WORDS>;

    void render_tick();
    void build_super_frame(uint32_t port, uint64_t super_frame);
    void queue_rhd_frame(uint64_t frame);
    void emit_row(uint32_t stream, const Row_Words& words);
    void write_row(uint8_t marker, uint8_t id, uint8_t counter, const Row_Words& words);
    std::vector<Fault> faults_at(uint32_t stream, uint64_t row);
    bool super_frame_lost(uint32_t port, uint64_t super_frame) const;

    Synth_Settings m_settings;
    C_Synth_Content m_content;
    uint64_t m_tick = 0;
    // The tick whose RHD frame carries timestamp 0: the RHD timestamps restart with the probes'
    // frame counters, so that a frame's timestamp is the number of the super frames sent with it.
    uint64_t m_rhd_origin = 0;
    std::vector<uint8_t> m_tick_bytes;
    size_t m_read_position = 0;
    std::array<std::array<Row_Words, ROWS_PER_SUPER_FRAME>, 4> m_super_frames{};
    std::deque<uint16_t> m_rhd_pending;
    uint64_t m_rhd_words_sent = 0;
    std::array<uint64_t, 5> m_rows_sent{};
    std::array<uint8_t, 5> m_row_counters{};
    std::array<uint8_t, 5> m_counter_offsets{};
    std::array<uint8_t, 16> m_unknown_id_counters{};
    std::array<std::vector<Fault>, 5> m_row_faults;
    std::array<size_t, 5> m_next_row_fault{};
};

} // namespace Selvan::MURA::synth
