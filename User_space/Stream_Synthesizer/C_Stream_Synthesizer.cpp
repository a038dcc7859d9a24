#include "C_Stream_Synthesizer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace Selvan::MURA::synth {
namespace {

constexpr uint16_t SUPER_FRAME_START = 0x0800;
constexpr uint16_t BAD_LANE_TAG = 0x9;
constexpr uint8_t ROW_MARKER = 0xD;

bool is_row_fault(Fault_Kind kind) {
    return kind == Fault_Kind::lost_row || kind == Fault_Kind::duplicated_row ||
           kind == Fault_Kind::counter_jump || kind == Fault_Kind::bad_marker ||
           kind == Fault_Kind::unknown_stream_id || kind == Fault_Kind::bad_lane_tag;
}

} // namespace

void check_stream_layout(const Synth_Settings& settings) {
    for (uint32_t port : settings.np_ports) {
        if (port > 3)
            throw std::invalid_argument("NP port must be 0..3");
    }
    if (settings.rhd_stream_count > 32)
        throw std::invalid_argument("RHD stream count must be 0..32");
}

C_Stream_Synthesizer::C_Stream_Synthesizer(Synth_Settings settings)
    : m_settings(std::move(settings))
    , m_content(m_settings.content) {
    check_stream_layout(m_settings);
    for (const Fault& fault : m_settings.faults) {
        if (fault.stream > RHD_STREAM_ID)
            throw std::invalid_argument("fault stream must be 0..4");
        if (is_row_fault(fault.kind))
            m_row_faults[fault.stream].push_back(fault);
    }
    for (auto& faults : m_row_faults)
        std::stable_sort(faults.begin(), faults.end(),
                         [](const Fault& a, const Fault& b) { return a.index < b.index; });
    // Each stream's first row carries counter 0.
    m_tick_bytes.reserve(ROW_BYTES * (4 * ROWS_PER_SUPER_FRAME + 200));
}

size_t C_Stream_Synthesizer::fill(uint8_t* buffer, size_t capacity) {
    const size_t wanted = capacity - capacity % ROW_BYTES;
    size_t written = 0;
    while (written < wanted) {
        if (m_read_position == m_tick_bytes.size())
            render_tick();
        const size_t count = std::min(wanted - written, m_tick_bytes.size() - m_read_position);
        std::memcpy(buffer + written, m_tick_bytes.data() + m_read_position, count);
        m_read_position += count;
        written += count;
    }
    return written;
}

std::vector<uint8_t> C_Stream_Synthesizer::next_ticks(uint64_t ticks) {
    if (m_read_position != m_tick_bytes.size())
        throw std::logic_error("next_ticks must start at a tick boundary");
    std::vector<uint8_t> bytes;
    for (uint64_t i = 0; i < ticks; ++i) {
        render_tick();
        bytes.insert(bytes.end(), m_tick_bytes.begin(), m_tick_bytes.end());
        m_read_position = m_tick_bytes.size();
    }
    return bytes;
}

void C_Stream_Synthesizer::skip_ticks(uint64_t ticks) {
    m_tick += ticks;
    m_tick_bytes.clear();
    m_read_position = 0;
    m_rhd_pending.clear();
}

uint64_t C_Stream_Synthesizer::restart_frame_counters() {
    const uint64_t next = m_settings.first_super_frame + m_tick;
    const uint64_t origin =
        (next + C_Synth_Content::SLOTS - 1) / C_Synth_Content::SLOTS * C_Synth_Content::SLOTS;
    const uint64_t skipped = origin - next;
    skip_ticks(skipped);
    m_content.set_frame_counter_origin(origin);
    m_rhd_origin = m_tick;
    return skipped;
}

// Within a tick, the NP ports take turns row by row and the RHD rows are spread evenly among
// them, as the box's multiplexer serves FIFOs that fill at these rates.
void C_Stream_Synthesizer::render_tick() {
    m_tick_bytes.clear();
    m_read_position = 0;
    const uint64_t super_frame = m_settings.first_super_frame + m_tick;
    for (uint32_t port : m_settings.np_ports)
        build_super_frame(port, super_frame);
    if (m_settings.rhd)
        queue_rhd_frame(m_tick);
    const size_t rhd_rows = m_rhd_pending.size() / ROW_WORDS;
    const uint32_t slots = m_settings.np_ports.empty() ? 1 : ROWS_PER_SUPER_FRAME;
    size_t rhd_rows_sent = 0;
    std::array<bool, 4> sent{};
    for (uint32_t port : m_settings.np_ports)
        sent[port] = !super_frame_lost(port, m_tick);
    for (uint32_t slot = 0; slot < slots; ++slot) {
        for (uint32_t port : m_settings.np_ports) {
            if (sent[port])
                emit_row(port, m_super_frames[port][slot]);
        }
        while (rhd_rows_sent * slots < rhd_rows * (slot + 1)) {
            Row_Words words;
            for (auto& word : words) {
                word = m_rhd_pending.front();
                m_rhd_pending.pop_front();
            }
            m_rhd_words_sent += ROW_WORDS;
            emit_row(RHD_STREAM_ID, words);
            ++rhd_rows_sent;
        }
    }
    ++m_tick;
}

void C_Stream_Synthesizer::build_super_frame(uint32_t port, uint64_t super_frame) {
    auto& rows = m_super_frames[port];
    for (uint32_t frame = 0; frame < C_Synth_Content::FRAMES_PER_SUPER_FRAME; ++frame) {
        for (uint32_t minor = 0; minor < 5; ++minor) {
            Row_Words& words = rows[5 * frame + minor];
            for (uint32_t lane = 0; lane < ROW_WORDS; ++lane) {
                const uint16_t bits = m_content.frame_word_bits(port, super_frame, frame, minor + 5 * lane);
                words[lane] = static_cast<uint16_t>(((lane + 1) << 12) | bits);
            }
        }
    }
    const uint64_t relative = super_frame - m_settings.first_super_frame;
    const bool start_missing =
        std::any_of(m_settings.faults.begin(), m_settings.faults.end(), [&](const Fault& f) {
            return f.kind == Fault_Kind::missing_super_frame_start && f.stream == port && f.index == relative;
        });
    if (!start_missing)
        rows[0][0] |= SUPER_FRAME_START;
}

void C_Stream_Synthesizer::queue_rhd_frame(uint64_t frame) {
    uint16_t preamble[4];
    for (int i = 0; i < 4; ++i)
        preamble[i] = static_cast<uint16_t>(RHD_PREAMBLE >> (16 * i));
    for (const Fault& fault : m_settings.faults) {
        if (fault.kind == Fault_Kind::broken_preamble && fault.index == frame && fault.value < 4)
            preamble[fault.value] = 0;
    }
    auto push32 = [this](uint32_t value) {
        m_rhd_pending.push_back(static_cast<uint16_t>(value));
        m_rhd_pending.push_back(static_cast<uint16_t>(value >> 16));
    };
    m_rhd_pending.insert(m_rhd_pending.end(), preamble, preamble + 4);
    push32(m_content.rhd_timestamp(frame - m_rhd_origin));
    const uint32_t streams = m_settings.rhd_stream_count;
    for (uint32_t slot = 0; slot < 35; ++slot) {
        for (uint32_t stream = 0; stream < streams; ++stream)
            m_rhd_pending.push_back(m_content.rhd_amplifier_sample(frame, stream, slot));
    }
    for (uint32_t i = 0; i < streams % 4 + 2; ++i)
        m_rhd_pending.push_back(0);
    for (uint32_t k = 0; k < 8; ++k)
        m_rhd_pending.push_back(m_content.rhd_auxiliary(frame, k));
    push32(m_content.rhd_ttl_in(frame));
    push32(m_content.rhd_ttl_out(frame));
}

bool C_Stream_Synthesizer::super_frame_lost(uint32_t port, uint64_t super_frame) const {
    return std::any_of(m_settings.faults.begin(), m_settings.faults.end(), [&](const Fault& fault) {
        return fault.kind == Fault_Kind::lost_super_frames && fault.stream == port &&
               super_frame >= fault.index && super_frame < fault.index + fault.value;
    });
}

std::vector<Fault> C_Stream_Synthesizer::faults_at(uint32_t stream, uint64_t row) {
    std::vector<Fault> due;
    const auto& faults = m_row_faults[stream];
    size_t& next = m_next_row_fault[stream];
    while (next < faults.size() && faults[next].index <= row) {
        if (faults[next].index == row)
            due.push_back(faults[next]);
        ++next;
    }
    return due;
}

void C_Stream_Synthesizer::emit_row(uint32_t stream, const Row_Words& words) {
    const uint64_t row = m_rows_sent[stream]++;
    uint8_t marker = ROW_MARKER;
    bool lost = false;
    bool duplicated = false;
    Row_Words sent = words;
    if (m_next_row_fault[stream] < m_row_faults[stream].size()) {
        for (const Fault& fault : faults_at(stream, row)) {
            switch (fault.kind) {
            case Fault_Kind::lost_row:
                lost = true;
                break;
            case Fault_Kind::duplicated_row:
                duplicated = true;
                break;
            case Fault_Kind::counter_jump:
                m_counter_offsets[stream] = static_cast<uint8_t>(m_counter_offsets[stream] + fault.value);
                break;
            case Fault_Kind::bad_marker:
                marker = static_cast<uint8_t>(fault.value & 0xF);
                break;
            case Fault_Kind::unknown_stream_id: {
                const uint8_t id = static_cast<uint8_t>(fault.value & 0xF);
                write_row(ROW_MARKER, id, m_unknown_id_counters[id]++, Row_Words{});
                break;
            }
            case Fault_Kind::bad_lane_tag:
                if (fault.value < ROW_WORDS)
                    sent[fault.value] =
                        static_cast<uint16_t>((sent[fault.value] & 0x0FFF) | (BAD_LANE_TAG << 12));
                break;
            default:
                break;
            }
        }
    }
    const uint8_t counter = static_cast<uint8_t>(m_row_counters[stream]++ + m_counter_offsets[stream]);
    if (!lost)
        write_row(marker, static_cast<uint8_t>(stream), counter, sent);
    if (duplicated)
        write_row(marker, static_cast<uint8_t>(stream), counter, sent);
}

void C_Stream_Synthesizer::write_row(uint8_t marker, uint8_t id, uint8_t counter, const Row_Words& words) {
    m_tick_bytes.push_back(static_cast<uint8_t>((marker << 4) | id));
    m_tick_bytes.push_back(counter);
    for (uint16_t word : words) {
        m_tick_bytes.push_back(static_cast<uint8_t>(word));
        m_tick_bytes.push_back(static_cast<uint8_t>(word >> 8));
    }
}

} // namespace Selvan::MURA::synth
