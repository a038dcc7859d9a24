#include "C_Paced_Stream_Source.h"

#include <algorithm>
#include <cstring>

namespace Selvan::MURA::box_model {
namespace {

using Synthesizer = synth::C_Stream_Synthesizer;
constexpr uint8_t SUPER_FRAME_START_BIT = 0x08; // in the high byte of a row's first payload word
// Four probes and the RHD frames of a box without RHD data streams.
constexpr size_t NOMINAL_BYTES_PER_TICK =
    (4 * Synthesizer::ROWS_PER_SUPER_FRAME + 3) * Synthesizer::ROW_BYTES;

// Bytes per tick of a recording: its size over the super frames of its first NP stream.
size_t bytes_per_tick(const std::vector<uint8_t>& recording) {
    int stream = -1;
    size_t super_frames = 0;
    for (size_t offset = 0; offset + Synthesizer::ROW_BYTES <= recording.size();
         offset += Synthesizer::ROW_BYTES) {
        const uint8_t id = recording[offset] & 0x0F;
        if (id > 3 || (recording[offset + 3] & SUPER_FRAME_START_BIT) == 0)
            continue;
        if (stream < 0)
            stream = id;
        super_frames += id == stream;
    }
    if (super_frames == 0)
        return NOMINAL_BYTES_PER_TICK;
    return std::max<size_t>(Synthesizer::ROW_BYTES, recording.size() / super_frames / Synthesizer::ROW_BYTES *
                                                        Synthesizer::ROW_BYTES);
}

} // namespace

C_Paced_Stream_Source::C_Paced_Stream_Source(const synth::Synth_Settings& settings, double speed)
    : m_synthesizer(std::make_unique<synth::C_Stream_Synthesizer>(settings))
    , m_speed(speed) {}

C_Paced_Stream_Source::C_Paced_Stream_Source(std::shared_ptr<const std::vector<uint8_t>> recording,
                                             double speed)
    : m_recording(std::move(recording))
    , m_recording_bytes_per_tick(bytes_per_tick(*m_recording))
    , m_speed(speed) {}

uint64_t C_Paced_Stream_Source::ticks_due() const {
    const double seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
    return static_cast<uint64_t>(seconds * m_speed * TICKS_PER_SECOND);
}

void C_Paced_Stream_Source::render(uint64_t ticks) {
    m_rows.clear();
    m_rows_start = 0;
    if (m_synthesizer) {
        m_rows = m_synthesizer->next_ticks(ticks);
    } else if (!m_recording->empty()) {
        const size_t bytes = ticks * m_recording_bytes_per_tick;
        m_rows.reserve(bytes);
        while (m_rows.size() < bytes) {
            const size_t count = std::min(bytes - m_rows.size(), m_recording->size() - m_recording_position);
            m_rows.insert(m_rows.end(), m_recording->begin() + static_cast<long>(m_recording_position),
                          m_recording->begin() + static_cast<long>(m_recording_position + count));
            m_recording_position = (m_recording_position + count) % m_recording->size();
        }
    }
    m_ticks_passed += ticks;
}

void C_Paced_Stream_Source::skip(uint64_t ticks) {
    if (m_synthesizer)
        m_synthesizer->skip_ticks(ticks);
    else if (!m_recording->empty())
        m_recording_position = (m_recording_position + ticks * m_recording_bytes_per_tick) %
                               m_recording->size() / Synthesizer::ROW_BYTES * Synthesizer::ROW_BYTES;
    m_ticks_passed += ticks;
    m_rows.clear();
    m_rows_start = 0;
}

// A trigger lets go of what was due before it: the run starts now, with the probes counting
// from 0 at the first tick sent. During a run, what a reader leaves waiting too long is lost.
size_t C_Paced_Stream_Source::fill(uint8_t* buffer, size_t capacity) {
    const bool triggered = m_triggered.exchange(false);
    if (triggered) {
        m_rows.clear();
        m_rows_start = 0;
    }
    if (m_rows_start == m_rows.size()) {
        const uint64_t now = ticks_due();
        uint64_t due = now > m_ticks_passed ? now - m_ticks_passed : 0;
        if (triggered) {
            skip(due);
            due = 0;
            if (m_synthesizer)
                m_ticks_passed += m_synthesizer->restart_frame_counters();
        } else if (due > BACKLOG_TICKS) {
            skip(due - BACKLOG_TICKS);
            m_overflow_ticks += due - BACKLOG_TICKS;
            due = BACKLOG_TICKS;
        }
        if (due == 0)
            return 0;
        render(std::min(due, MAX_TICKS_PER_FILL));
    }
    const size_t count =
        std::min(capacity / Synthesizer::ROW_BYTES * Synthesizer::ROW_BYTES, m_rows.size() - m_rows_start);
    std::memcpy(buffer, m_rows.data() + m_rows_start, count);
    m_rows_start += count;
    return count;
}

} // namespace Selvan::MURA::box_model
