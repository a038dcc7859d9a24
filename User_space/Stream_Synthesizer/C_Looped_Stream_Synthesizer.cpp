#include "C_Looped_Stream_Synthesizer.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <numeric>
#include <stdexcept>

namespace Selvan::MURA::synth {
namespace {

using Synthesizer = C_Stream_Synthesizer;
constexpr uint32_t ROW_WORDS = Synthesizer::ROW_WORDS;
constexpr uint32_t ROWS = Synthesizer::ROWS_PER_SUPER_FRAME;
constexpr uint32_t SLOTS = C_Synth_Content::SLOTS;
constexpr uint16_t START_OF_SUPER_FRAME = 0x0800;
constexpr uint16_t COUNTER_LANE_TAG = 7u << 12;
constexpr uint64_t NO_BLOCK = ~uint64_t{0};

// Ramp and counter repeat after 1,024 LFP samples, which are 12,288 super frames.
constexpr uint64_t PERIODIC_LOOP = 1024 * SLOTS;
// Neural content never repeats: a loop of two seconds, each port a quarter of it ahead of the last.
constexpr uint64_t NEURAL_LOOP = 2 * C_Synth_Content::AP_SAMPLES_PER_SECOND;
constexpr uint64_t SINE_LOOP_AT_LEAST = 12000;
constexpr uint64_t SINE_LOOP_AT_MOST = 60000;

// Where value `element` of frame `frame` sits among a super frame's words: rows of seven lanes,
// five rows per frame, element e in row e mod 5 of its frame and lane e div 5.
constexpr uint32_t word_index(uint32_t frame, uint32_t element) {
    return (5 * frame + element % 5) * ROW_WORDS + element / 5;
}
constexpr uint16_t tagged(uint32_t element, uint16_t bits) {
    return static_cast<uint16_t>(((element / 5 + 1) << 12) | bits);
}

// Ramp and counter values name their port; the other kinds look alike on every port.
bool loop_per_port(Np_Content content) {
    return content == Np_Content::ramp || content == Np_Content::counter;
}

// A whole number of the sine's periods (in super frames, both for the AP samples and the LFP
// samples taken every twelfth), a few hundred milliseconds long.
uint64_t sine_loop(double frequency_hz) {
    const double rounded = std::round(frequency_hz);
    if (rounded <= 0 || std::abs(rounded - frequency_hz) > 1e-9)
        return SINE_LOOP_AT_MOST;
    const uint64_t rate = C_Synth_Content::AP_SAMPLES_PER_SECOND;
    const uint64_t period = rate / std::gcd(static_cast<uint64_t>(rounded), rate);
    const uint64_t unit = std::lcm(period, uint64_t{SLOTS});
    if (unit > SINE_LOOP_AT_MOST)
        return SINE_LOOP_AT_MOST;
    return (SINE_LOOP_AT_LEAST + unit - 1) / unit * unit;
}

uint64_t loop_length(const Content_Settings& content) {
    switch (content.np_content) {
    case Np_Content::psb_test_pattern:
        return SLOTS;
    case Np_Content::sine:
        return sine_loop(content.sine_frequency_hz);
    case Np_Content::neural:
        return NEURAL_LOOP;
    case Np_Content::ramp:
    case Np_Content::counter:
        break;
    }
    return PERIODIC_LOOP;
}

} // namespace

C_Looped_Stream_Synthesizer::C_Looped_Stream_Synthesizer(Synth_Settings settings,
                                                         const std::atomic<bool>* cancel)
    : m_settings(std::move(settings))
    , m_content(m_settings.content) {
    check_stream_layout(m_settings);
    if (!m_settings.faults.empty())
        throw std::invalid_argument("the looped synthesizer sends no faults");
    const size_t rhd_rows = m_settings.rhd ? (rhd_frame_words() + 2 * ROW_WORDS - 1) / ROW_WORDS : 0;
    m_max_tick_bytes = (m_settings.np_ports.size() * ROWS + rhd_rows) * Synthesizer::ROW_BYTES;
    m_ap_digits_block.fill(NO_BLOCK);
    m_lfp_digits_block.fill(NO_BLOCK);
    render_loops(cancel);
}

uint32_t C_Looped_Stream_Synthesizer::rhd_frame_words() const {
    return synth::rhd_frame_words(m_settings.rhd_stream_count);
}

// The ports whose content is their own get a loop each; the others share one, read by the
// neural ports at places a quarter of the loop apart (whole LFP cycles, so that the LFP slots
// stay where the decoder expects them).
std::shared_ptr<std::vector<uint16_t>>
C_Looped_Stream_Synthesizer::render_loop(const C_Synth_Content& content, uint32_t port, uint64_t length,
                                         const std::atomic<bool>* cancel) {
    auto words = std::make_shared<std::vector<uint16_t>>(length * SUPER_FRAME_WORDS);
    for (uint64_t super_frame = 0; super_frame < length; ++super_frame) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return nullptr;
        uint16_t* out = words->data() + super_frame * SUPER_FRAME_WORDS;
        for (uint32_t frame = 0; frame < C_Synth_Content::FRAMES_PER_SUPER_FRAME; ++frame) {
            for (uint32_t element = 0; element < C_Synth_Content::FRAME_VALUES; ++element)
                out[word_index(frame, element)] =
                    tagged(element, content.frame_word_bits(port, super_frame, frame, element));
        }
        out[0] |= START_OF_SUPER_FRAME;
    }
    return words;
}

// The ports whose content is their own get a loop each; the others share one, read by the
// neural ports at places a quarter of the loop apart (whole LFP cycles, so that the LFP slots
// stay where the decoder expects them).
void C_Looped_Stream_Synthesizer::render_loops(const std::atomic<bool>* cancel) {
    const uint64_t length = loop_length(m_settings.content);
    const bool own_loops = loop_per_port(m_settings.content.np_content);
    const C_Synth_Content content(m_settings.content);
    std::shared_ptr<const std::vector<uint16_t>> shared;
    for (size_t order = 0; order < m_settings.np_ports.size(); ++order) {
        const uint32_t port = m_settings.np_ports[order];
        Port_Loop& loop = m_loops[port];
        loop.super_frames = length;
        if (own_loops || !shared) {
            loop.words = render_loop(content, own_loops ? port : 0, length, cancel);
            if (!loop.words)
                return;
            if (!own_loops)
                shared = loop.words;
        } else {
            loop.words = shared;
        }
        if (m_settings.content.np_content == Np_Content::neural)
            loop.offset = order * (length / 4 / SLOTS * SLOTS);
    }
}

// The PSB test pattern repeats every super frame (12 make an LFP cycle); the broken one carries
// a wrong lowest bit in every AP value; the test signal is the 1.2 kHz sine.
const C_Looped_Stream_Synthesizer::Port_Loop& C_Looped_Stream_Synthesizer::output_loop(Port_Output output) {
    Port_Loop& loop = m_output_loops[static_cast<size_t>(output)];
    if (loop.words)
        return loop;
    Content_Settings settings = m_settings.content;
    settings.np_content =
        output == Port_Output::test_signal ? Np_Content::sine : Np_Content::psb_test_pattern;
    settings.sine_frequency_hz = 1200.0;
    loop.super_frames = loop_length(settings);
    auto words = render_loop(C_Synth_Content(settings), 0, loop.super_frames, nullptr);
    if (output == Port_Output::broken_psb_test_pattern) {
        for (uint64_t super_frame = 0; super_frame < loop.super_frames; ++super_frame) {
            for (uint32_t frame = 1; frame < C_Synth_Content::FRAMES_PER_SUPER_FRAME; ++frame) {
                for (uint32_t element = 0; element < 32; ++element)
                    (*words)[super_frame * SUPER_FRAME_WORDS + word_index(frame, element)] ^= 1;
            }
        }
    }
    loop.words = std::move(words);
    return loop;
}

void C_Looped_Stream_Synthesizer::set_port_output(uint32_t port, Port_Output output) {
    if (port < m_outputs.size())
        m_outputs[port] = output;
}

size_t C_Looped_Stream_Synthesizer::loop_bytes() const {
    size_t bytes = 0;
    const std::vector<uint16_t>* counted = nullptr;
    for (const Port_Loop& loop : m_loops) {
        if (loop.words && loop.words.get() != counted)
            bytes += loop.words->size() * sizeof(uint16_t);
        if (loop.words)
            counted = loop.words.get();
    }
    return bytes;
}

double C_Looped_Stream_Synthesizer::bytes_per_tick(uint32_t np_ports, bool rhd) const {
    const double rhd_rows = rhd && m_settings.rhd ? static_cast<double>(rhd_frame_words()) / ROW_WORDS : 0.0;
    return (np_ports * ROWS + rhd_rows) * Synthesizer::ROW_BYTES;
}

// Within a tick, the NP ports take turns row by row and the RHD rows are spread evenly among
// them, as the box's multiplexer serves FIFOs that fill at these rates.
size_t C_Looped_Stream_Synthesizer::render_tick(uint8_t* buffer) {
    const uint64_t super_frame = m_settings.first_super_frame + m_tick;
    for (uint32_t port : m_settings.np_ports)
        prepare_super_frame(port, super_frame);
    if (m_settings.rhd)
        queue_rhd_frame(m_tick);
    const size_t rhd_rows = (m_rhd_pending.size() - m_rhd_start) / ROW_WORDS;
    const uint32_t slots = m_settings.np_ports.empty() ? 1 : ROWS;
    uint8_t* out = buffer;
    size_t rhd_rows_sent = 0;
    for (uint32_t slot = 0; slot < slots; ++slot) {
        for (uint32_t port : m_settings.np_ports)
            out = write_row(out, port, m_super_frames[port].data() + slot * ROW_WORDS);
        while (rhd_rows_sent * slots < rhd_rows * (slot + 1)) {
            out = write_row(out, Synthesizer::RHD_STREAM_ID, m_rhd_pending.data() + m_rhd_start);
            m_rhd_start += ROW_WORDS;
            ++rhd_rows_sent;
        }
    }
    m_rhd_pending.erase(m_rhd_pending.begin(), m_rhd_pending.begin() + static_cast<long>(m_rhd_start));
    m_rhd_start = 0;
    ++m_tick;
    return static_cast<size_t>(out - buffer);
}

void C_Looped_Stream_Synthesizer::skip_ticks(uint64_t ticks) {
    m_tick += ticks;
    m_rhd_pending.clear();
    m_rhd_start = 0;
}

uint64_t C_Looped_Stream_Synthesizer::restart_frame_counters() {
    const uint64_t next = m_settings.first_super_frame + m_tick;
    const uint64_t origin = (next + SLOTS - 1) / SLOTS * SLOTS;
    skip_ticks(origin - next);
    m_frame_counter_origin = origin;
    m_rhd_origin = m_tick;
    return origin - next;
}

void C_Looped_Stream_Synthesizer::prepare_super_frame(uint32_t port, uint64_t super_frame) {
    const Port_Output output = m_outputs[port];
    const Port_Loop& loop = output == Port_Output::content ? m_loops[port] : output_loop(output);
    const uint64_t place = (super_frame + loop.offset) % loop.super_frames;
    uint16_t* words = m_super_frames[port].data();
    std::memcpy(words, loop.words->data() + place * SUPER_FRAME_WORDS, SUPER_FRAME_WORDS * sizeof(uint16_t));
    patch_frame_counters(words, super_frame);
    if (m_settings.content.np_content == Np_Content::counter && output == Port_Output::content)
        patch_counter_content(port, words, super_frame);
}

// Values 33 and 34 of every frame: the two halves of the probe's 20-bit frame counter.
void C_Looped_Stream_Synthesizer::patch_frame_counters(uint16_t* words, uint64_t super_frame) const {
    const uint64_t first = (super_frame - m_frame_counter_origin) * C_Synth_Content::FRAMES_PER_SUPER_FRAME;
    for (uint32_t frame = 0; frame < C_Synth_Content::FRAMES_PER_SUPER_FRAME; ++frame) {
        const auto counter = static_cast<uint32_t>((first + frame) & 0xFFFFF);
        words[word_index(frame, 33)] = static_cast<uint16_t>(COUNTER_LANE_TAG | (counter >> 10));
        words[word_index(frame, 34)] = static_cast<uint16_t>(COUNTER_LANE_TAG | (counter & 0x3FF));
    }
}

// The counter content spells the super frame (or LFP sample) number with one ten-bit digit per
// channel of each group of four; the loop holds the lowest digit, which repeats, and the higher
// digits are written here from tables made once per block in which they stay the same.
void C_Looped_Stream_Synthesizer::patch_counter_content(uint32_t port, uint16_t* words,
                                                        uint64_t super_frame) {
    const uint64_t block = super_frame >> 10;
    if (m_ap_digits_block[port] != block) {
        m_ap_digits_block[port] = block;
        std::vector<Patch>& patches = m_ap_digits[port];
        patches.clear();
        for (uint32_t channel = 0; channel < C_Synth_Content::CHANNELS; ++channel) {
            if (channel % 4 == 0)
                continue;
            const uint32_t element = C_Synth_Content::sample_of(channel);
            const uint16_t value = m_content.ap_value(port, super_frame, channel);
            patches.push_back(
                {static_cast<uint16_t>(word_index(C_Synth_Content::slot_of(channel) + 1, element)),
                 tagged(element, value)});
        }
    }
    const uint64_t lfp_sample = super_frame / SLOTS;
    if (m_lfp_digits_block[port] != lfp_sample >> 10) {
        m_lfp_digits_block[port] = lfp_sample >> 10;
        for (uint32_t slot = 0; slot < SLOTS; ++slot) {
            std::vector<Patch>& patches = m_lfp_digits[port][slot];
            patches.clear();
            for (uint32_t element = 0; element < 32; ++element) {
                const uint32_t channel = C_Synth_Content::channel_of(slot, element);
                if (channel % 4 == 0)
                    continue;
                uint16_t word = tagged(element, m_content.lfp_value(port, lfp_sample, channel));
                if (word_index(0, element) == 0)
                    word |= START_OF_SUPER_FRAME;
                patches.push_back({static_cast<uint16_t>(word_index(0, element)), word});
            }
        }
    }
    for (const Patch& patch : m_ap_digits[port])
        words[patch.index] = patch.word;
    for (const Patch& patch : m_lfp_digits[port][super_frame % SLOTS])
        words[patch.index] = patch.word;
}

void C_Looped_Stream_Synthesizer::queue_rhd_frame(uint64_t frame) {
    auto push32 = [this](uint32_t value) {
        m_rhd_pending.push_back(static_cast<uint16_t>(value));
        m_rhd_pending.push_back(static_cast<uint16_t>(value >> 16));
    };
    for (int i = 0; i < 4; ++i)
        m_rhd_pending.push_back(static_cast<uint16_t>(Synthesizer::RHD_PREAMBLE >> (16 * i)));
    push32(m_content.rhd_timestamp(frame - m_rhd_origin));
    const uint32_t streams = m_settings.rhd_stream_count;
    for (uint32_t slot = 0; slot < 35; ++slot) {
        for (uint32_t stream = 0; stream < streams; ++stream)
            m_rhd_pending.push_back(m_content.rhd_amplifier_sample(frame, stream, slot));
    }
    m_rhd_pending.insert(m_rhd_pending.end(), streams % 4 + 2, 0);
    for (uint32_t k = 0; k < 8; ++k)
        m_rhd_pending.push_back(m_content.rhd_auxiliary(frame, k));
    push32(m_content.rhd_ttl_in(frame));
    push32(m_content.rhd_ttl_out(frame));
}

uint8_t* C_Looped_Stream_Synthesizer::write_row(uint8_t* out, uint32_t stream, const uint16_t* words) {
    constexpr uint8_t ROW_MARKER = 0xD;
    out[0] = static_cast<uint8_t>((ROW_MARKER << 4) | stream);
    out[1] = m_row_counters[stream]++;
    // The stream's words are little-endian, as are both targets' own.
    static_assert(std::endian::native == std::endian::little);
    std::memcpy(out + 2, words, ROW_WORDS * sizeof(uint16_t));
    return out + Synthesizer::ROW_BYTES;
}

} // namespace Selvan::MURA::synth
