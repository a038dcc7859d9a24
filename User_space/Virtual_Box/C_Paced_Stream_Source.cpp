#include "C_Paced_Stream_Source.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Selvan::MURA::box_model {
namespace {

using synth::C_Stream_Synthesizer;
constexpr uint8_t SUPER_FRAME_START_BIT = 0x08; // in the high byte of a row's first payload word
// Four probes and the RHD frames of a box without RHD data streams.
constexpr size_t NOMINAL_BYTES_PER_TICK =
    (4 * C_Stream_Synthesizer::ROWS_PER_SUPER_FRAME + 3) * C_Stream_Synthesizer::ROW_BYTES;

// Bytes per tick of a recording: its size over the super frames of its first NP stream.
size_t bytes_per_tick(const std::vector<uint8_t>& recording) {
    int stream = -1;
    size_t super_frames = 0;
    for (size_t offset = 0; offset + C_Stream_Synthesizer::ROW_BYTES <= recording.size();
         offset += C_Stream_Synthesizer::ROW_BYTES) {
        const uint8_t id = recording[offset] & 0x0F;
        if (id > 3 || (recording[offset + 3] & SUPER_FRAME_START_BIT) == 0)
            continue;
        if (stream < 0)
            stream = id;
        super_frames += id == stream;
    }
    if (super_frames == 0)
        return NOMINAL_BYTES_PER_TICK;
    return std::max<size_t>(C_Stream_Synthesizer::ROW_BYTES, recording.size() / super_frames /
                                                                 C_Stream_Synthesizer::ROW_BYTES *
                                                                 C_Stream_Synthesizer::ROW_BYTES);
}

} // namespace

// Rendered where the box is made, not on a thread of its own: a thread still rendering when a
// host process ends would be waited for in the module's static destructors, which on Windows run
// under the loader lock that the thread's own exit needs.
C_Paced_Stream_Source::C_Paced_Stream_Source(const synth::Synth_Settings& settings, double speed)
    : m_synthesizer(std::make_unique<synth::C_Looped_Stream_Synthesizer>(settings))
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

C_Paced_Stream_Source::Clock::time_point C_Paced_Stream_Source::due_time(size_t bytes, uint32_t np_ports,
                                                                         bool rhd) {
    const size_t rendered = m_rows.size() - m_rows_start;
    if (bytes <= rendered)
        return Clock::now();
    const double per_tick = synthesizer() ? m_synthesizer->bytes_per_tick(np_ports, rhd)
                                          : static_cast<double>(m_recording_bytes_per_tick);
    if (per_tick <= 0)
        return Clock::now();
    const double ticks = std::ceil(static_cast<double>(bytes - rendered) / per_tick);
    const double seconds = (static_cast<double>(m_ticks_passed) + ticks) / (m_speed * TICKS_PER_SECOND);
    return m_start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

void C_Paced_Stream_Source::render_recording(uint64_t ticks) {
    m_rows.clear();
    m_rows_start = 0;
    if (m_recording->empty())
        return;
    const size_t bytes = ticks * m_recording_bytes_per_tick;
    m_rows.reserve(bytes);
    while (m_rows.size() < bytes) {
        const size_t count = std::min(bytes - m_rows.size(), m_recording->size() - m_recording_position);
        m_rows.insert(m_rows.end(), m_recording->begin() + static_cast<long>(m_recording_position),
                      m_recording->begin() + static_cast<long>(m_recording_position + count));
        m_recording_position = (m_recording_position + count) % m_recording->size();
    }
    m_ticks_passed += ticks;
}

void C_Paced_Stream_Source::skip(uint64_t ticks) {
    if (synthesizer())
        m_synthesizer->skip_ticks(ticks);
    else if (!m_recording->empty())
        m_recording_position = (m_recording_position + ticks * m_recording_bytes_per_tick) %
                               m_recording->size() / C_Stream_Synthesizer::ROW_BYTES *
                               C_Stream_Synthesizer::ROW_BYTES;
    m_ticks_passed += ticks;
    m_rows.clear();
    m_rows_start = 0;
}

// A trigger lets go of what was due before it: the run starts now, with the probes counting
// from 0 at the first tick sent. During a run, what a reader leaves waiting too long is lost.
uint64_t C_Paced_Stream_Source::ticks_to_send(bool triggered) {
    const uint64_t now = ticks_due();
    uint64_t due = now > m_ticks_passed ? now - m_ticks_passed : 0;
    if (triggered) {
        skip(due);
        if (synthesizer())
            m_ticks_passed += m_synthesizer->restart_frame_counters();
        m_run_first_tick = m_ticks_passed;
        return 0;
    }
    if (due > BACKLOG_TICKS) {
        skip(due - BACKLOG_TICKS);
        m_overflow_ticks += due - BACKLOG_TICKS;
        due = BACKLOG_TICKS;
    }
    return due;
}

std::optional<C_Paced_Stream_Source::Clock::time_point>
C_Paced_Stream_Source::run_super_frame_sent(uint64_t n) const {
    const uint64_t first = m_run_first_tick.load();
    if (first == NO_RUN)
        return std::nullopt;
    const double seconds = static_cast<double>(first + n + 1) / (m_speed * TICKS_PER_SECOND);
    return m_start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

size_t C_Paced_Stream_Source::take_rendered(uint8_t* buffer, size_t capacity) {
    const size_t count =
        std::min(capacity / C_Stream_Synthesizer::ROW_BYTES * C_Stream_Synthesizer::ROW_BYTES,
                 m_rows.size() - m_rows_start);
    if (count == 0)
        return 0;
    std::memcpy(buffer, m_rows.data() + m_rows_start, count);
    m_rows_start += count;
    return count;
}

// Whole ticks go straight into the reader's buffer; a tick that does not fit whole is rendered
// aside and its rows that fit go now, the rest with the next fill.
size_t C_Paced_Stream_Source::send_ticks(uint8_t* buffer, size_t capacity, uint64_t ticks) {
    synth::C_Looped_Stream_Synthesizer& synthesizer = *m_synthesizer;
    size_t written = 0;
    for (; ticks > 0 && capacity - written >= synthesizer.max_tick_bytes(); --ticks, ++m_ticks_passed)
        written += synthesizer.render_tick(buffer + written);
    if (ticks > 0 && capacity - written >= C_Stream_Synthesizer::ROW_BYTES) {
        m_rows.resize(synthesizer.max_tick_bytes());
        m_rows.resize(synthesizer.render_tick(m_rows.data()));
        m_rows_start = 0;
        ++m_ticks_passed;
        written += take_rendered(buffer + written, capacity - written);
    }
    return written;
}

size_t C_Paced_Stream_Source::fill(uint8_t* buffer, size_t capacity) {
    const bool triggered = m_triggered.exchange(false);
    if (triggered) {
        m_rows.clear();
        m_rows_start = 0;
    }
    size_t written = take_rendered(buffer, capacity);
    if (m_rows_start < m_rows.size())
        return written;
    const uint64_t due = ticks_to_send(triggered);
    if (due == 0)
        return written;
    if (synthesizer()) {
        if (m_port_outputs) {
            for (uint32_t port = 0; port < 4; ++port)
                m_synthesizer->set_port_output(port, m_port_outputs(port));
        }
        return written + send_ticks(buffer + written, capacity - written, due);
    }
    render_recording(std::min(due, MAX_TICKS_PER_FILL));
    return written + take_rendered(buffer + written, capacity - written);
}

} // namespace Selvan::MURA::box_model
