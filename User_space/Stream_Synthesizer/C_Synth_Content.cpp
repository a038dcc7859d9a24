#include "C_Synth_Content.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace Selvan::MURA::synth {
namespace {

constexpr uint16_t RHD_PREAMBLE_FIRST_WORD = 0x2A53;

// Channel c carries bits 10 (c mod 4) .. 10 (c mod 4) + 9 of the number, plus an offset of its
// own and of its port: the first four channels of a sample spell the whole number.
uint16_t counter_bits(uint64_t number, uint32_t channel, uint32_t port) {
    return static_cast<uint16_t>(((number >> (10 * (channel % 4))) + 7 * channel + 101 * port) & 0x3FF);
}
constexpr int BASELINE = 512;
constexpr uint64_t SPIKE_WINDOW = 600;
constexpr double LFP_WAVE_HZ = 8.0;
constexpr double LFP_SAMPLES_PER_SECOND = 2500.0;

uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

uint16_t clamp_to_adc(int value) {
    return static_cast<uint16_t>(std::clamp(value, 0, 1023));
}

uint16_t avoid_preamble(uint16_t word) {
    return word == RHD_PREAMBLE_FIRST_WORD ? static_cast<uint16_t>(word - 1) : word;
}

} // namespace

C_Synth_Content::C_Synth_Content(Content_Settings settings)
    : m_settings(std::move(settings)) {
    for (size_t i = 0; i < m_sine_table.size(); ++i)
        m_sine_table[i] = static_cast<int16_t>(
            std::lround(32767.0 * std::sin(2.0 * std::numbers::pi * i / m_sine_table.size())));
    // A negative-going extracellular spike: fast trough, slower overshoot.
    for (size_t i = 0; i < m_spike_shape.size(); ++i) {
        const double t = static_cast<double>(i);
        m_spike_shape[i] =
            static_cast<int16_t>(std::lround(-220.0 * std::exp(-0.5 * (t - 6) * (t - 6) / 4.0) +
                                             70.0 * std::exp(-0.5 * (t - 16) * (t - 16) / 25.0)));
    }
    m_sine_phase_step = static_cast<uint32_t>(
        std::llround(m_settings.sine_frequency_hz / AP_SAMPLES_PER_SECOND * 4294967296.0));
    if (m_settings.ttl_in_values.empty())
        m_settings.ttl_in_values.push_back(0);
    if (m_settings.ttl_hold_frames == 0)
        m_settings.ttl_hold_frames = 1;
}

uint64_t C_Synth_Content::hash(uint64_t a, uint64_t b, uint64_t c, uint64_t d) const {
    return mix(mix(mix(mix(m_settings.seed ^ a) ^ b) ^ c) ^ d);
}

uint16_t C_Synth_Content::ap_value(uint32_t port, uint64_t super_frame, uint32_t channel) const {
    return raw_ap_bits(port, super_frame, channel) & VALUE_MASK;
}

uint16_t C_Synth_Content::lfp_value(uint32_t port, uint64_t lfp_sample, uint32_t channel) const {
    return raw_lfp_bits(port, lfp_sample, channel) & VALUE_MASK;
}

uint32_t C_Synth_Content::frame_counter(uint64_t super_frame, uint32_t frame) {
    return static_cast<uint32_t>((super_frame * FRAMES_PER_SUPER_FRAME + frame) & 0xFFFFF);
}

uint16_t C_Synth_Content::frame_value(uint32_t port, uint64_t super_frame, uint32_t frame,
                                      uint32_t element) const {
    return frame_word_bits(port, super_frame, frame, element) & VALUE_MASK;
}

uint16_t C_Synth_Content::frame_word_bits(uint32_t port, uint64_t super_frame, uint32_t frame,
                                          uint32_t element) const {
    if (element == 33)
        return static_cast<uint16_t>(frame_counter(super_frame - m_frame_counter_origin, frame) >> 10);
    if (element == 34)
        return static_cast<uint16_t>(frame_counter(super_frame - m_frame_counter_origin, frame) & VALUE_MASK);
    if (element == 32)
        return 0;
    if (frame == 0) {
        const uint32_t slot = static_cast<uint32_t>(super_frame % SLOTS);
        return raw_lfp_bits(port, super_frame / SLOTS, channel_of(slot, element));
    }
    return raw_ap_bits(port, super_frame, channel_of(frame - 1, element));
}

uint16_t C_Synth_Content::raw_ap_bits(uint32_t port, uint64_t super_frame, uint32_t channel) const {
    switch (m_settings.np_content) {
    case Np_Content::psb_test_pattern:
        return channel % 2 == 0 ? PSB_PATTERN_EVEN : PSB_PATTERN_ODD;
    case Np_Content::sine:
        return sine_at(super_frame);
    case Np_Content::ramp:
        return static_cast<uint16_t>((super_frame + 3 * channel + 101 * port) & VALUE_MASK);
    case Np_Content::counter:
        return counter_bits(super_frame, channel, port);
    case Np_Content::neural:
        break;
    }
    return neural_ap(port, super_frame, channel);
}

uint16_t C_Synth_Content::raw_lfp_bits(uint32_t port, uint64_t lfp_sample, uint32_t channel) const {
    switch (m_settings.np_content) {
    case Np_Content::psb_test_pattern:
        return channel % 2 == 0 ? PSB_PATTERN_EVEN : PSB_PATTERN_ODD;
    case Np_Content::sine:
        return sine_at(lfp_sample * SLOTS);
    case Np_Content::ramp:
        return static_cast<uint16_t>((7 * lfp_sample + channel + 37 * port + 512) & VALUE_MASK);
    case Np_Content::counter:
        return counter_bits(lfp_sample, channel, port);
    case Np_Content::neural:
        break;
    }
    return neural_lfp(port, lfp_sample, channel);
}

// Noise everywhere; in about one 20 ms window of eight a channel fires one spike.
uint16_t C_Synth_Content::neural_ap(uint32_t port, uint64_t sample, uint32_t channel) const {
    int value = BASELINE + static_cast<int>(hash(1, port, channel, sample) % 49) - 24;
    const uint64_t window = sample / SPIKE_WINDOW;
    const uint64_t spike = hash(2, port, channel, window);
    if (spike % 8 == 0) {
        const uint64_t onset = (spike >> 8) % (SPIKE_WINDOW - m_spike_shape.size());
        const uint64_t offset = sample % SPIKE_WINDOW;
        if (offset >= onset && offset < onset + m_spike_shape.size())
            value += m_spike_shape[offset - onset];
    }
    return clamp_to_adc(value);
}

uint16_t C_Synth_Content::neural_lfp(uint32_t port, uint64_t sample, uint32_t channel) const {
    const uint32_t step = static_cast<uint32_t>(LFP_WAVE_HZ / LFP_SAMPLES_PER_SECOND * 4294967296.0);
    const uint32_t phase = static_cast<uint32_t>(sample * step) + channel * (1u << 22);
    const int wave = 80 * m_sine_table[phase >> 22] / 32767;
    const int noise = static_cast<int>(hash(3, port, channel, sample) % 17) - 8;
    return clamp_to_adc(BASELINE + wave + noise);
}

uint16_t C_Synth_Content::sine_at(uint64_t ap_sample_time) const {
    const uint32_t phase = static_cast<uint32_t>(ap_sample_time * m_sine_phase_step);
    return clamp_to_adc(BASELINE + m_settings.sine_amplitude * m_sine_table[phase >> 22] / 32767);
}

uint32_t C_Synth_Content::rhd_timestamp(uint64_t frame) const {
    return static_cast<uint32_t>(m_settings.first_rhd_timestamp + frame);
}

uint16_t C_Synth_Content::rhd_amplifier_sample(uint64_t frame, uint32_t stream, uint32_t slot) const {
    return avoid_preamble(static_cast<uint16_t>(hash(4, frame, stream, slot)));
}

uint16_t C_Synth_Content::rhd_auxiliary(uint64_t frame, uint32_t index) const {
    return avoid_preamble(static_cast<uint16_t>(hash(5, frame, index, 0)));
}

uint32_t C_Synth_Content::rhd_ttl_in(uint64_t frame) const {
    const auto& values = m_settings.ttl_in_values;
    const uint32_t pattern = values[(frame / m_settings.ttl_hold_frames) % values.size()];
    if (m_settings.sync_hz <= 0 || m_settings.sync_line > 31)
        return pattern;
    const uint32_t line = 1u << m_settings.sync_line;
    return (pattern & ~line) | (sync_level(frame) ? line : 0);
}

bool C_Synth_Content::sync_level(uint64_t frame) const {
    if (m_settings.sync_hz <= 0)
        return false;
    const double periods = static_cast<double>(frame) * m_settings.sync_hz / AP_SAMPLES_PER_SECOND;
    return periods - std::floor(periods) < 0.5;
}

uint32_t C_Synth_Content::rhd_ttl_out(uint64_t) const {
    return m_settings.ttl_out_value;
}

} // namespace Selvan::MURA::synth
