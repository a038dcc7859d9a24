#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace Selvan::MURA::synth {

// What the synthesized probes and RHD headstages send.
enum class Np_Content {
    neural,           // spikes and noise in the AP band, a slow wave and noise in the LFP band
    psb_test_pattern, // 0x0555 on even channels, 0x02AA on odd ones
    sine,             // one sine of a chosen frequency on every channel
    ramp,             // a different counting value on every port, channel and sample
    counter,          // every sample tells where it sits: ten bits of its super frame (or LFP
                      // sample) number, chosen by the channel, plus a channel and port offset
};

struct Content_Settings {
    uint64_t seed = 1;
    Np_Content np_content = Np_Content::neural;
    double sine_frequency_hz = 1200.0;
    uint16_t sine_amplitude = 300;
    uint32_t first_rhd_timestamp = 0;
    // TTL inputs of the RHD frames: each value is held for ttl_hold_frames frames, in turn.
    std::vector<uint32_t> ttl_in_values{0x00000000, 0x00000300, 0x00030000, 0x0003FF00};
    uint32_t ttl_hold_frames = 1000;
    // A lab's sync pulser on the box's sync input: a 50 % square wave of this frequency (0: none)
    // on TTL input `sync_line`, high for the first half of each period from frame 0 on.
    double sync_hz = 1.0;
    uint32_t sync_line = 9;
    uint32_t ttl_out_value = 0x12345678;
};

// Every value of a synthesized recording as a pure function of where it sits, so that a test
// knows what each channel sample must decode to without replaying the stream.
//
// A probe sends one super frame per AP sample (30 kHz): 13 frames of 35 ten-bit values, frame
// 0 carrying one 32-channel slot of the LFP band (slot = super frame mod 12) and frames 1..12
// carrying AP slots 0..11. Sample i of slot s belongs to channel 2s + 24(i div 2) + (i mod 2).
// LFP sample L of a channel is sent in super frame 12L + its slot.
class C_Synth_Content {
public:
    static constexpr uint32_t CHANNELS = 384;
    static constexpr uint32_t SLOTS = 12;
    static constexpr uint32_t FRAMES_PER_SUPER_FRAME = 13;
    static constexpr uint32_t FRAME_VALUES = 35;
    static constexpr uint32_t AP_SAMPLES_PER_SECOND = 30000;
    static constexpr uint16_t PSB_PATTERN_EVEN = 0x0555;
    static constexpr uint16_t PSB_PATTERN_ODD = 0x02AA;
    static constexpr uint16_t VALUE_MASK = 0x3FF;

    explicit C_Synth_Content(Content_Settings settings);

    static uint32_t slot_of(uint32_t channel) { return (channel % 24) / 2; }
    static uint32_t sample_of(uint32_t channel) { return 2 * (channel / 24) + channel % 2; }
    static uint32_t channel_of(uint32_t slot, uint32_t sample) {
        return 2 * slot + 24 * (sample / 2) + sample % 2;
    }

    // The 10-bit values the decoder must deliver.
    uint16_t ap_value(uint32_t port, uint64_t super_frame, uint32_t channel) const;
    uint16_t lfp_value(uint32_t port, uint64_t lfp_sample, uint32_t channel) const;
    // The 20-bit frame counter the probe sends with each frame.
    static uint32_t frame_counter(uint64_t super_frame, uint32_t frame);
    // From `super_frame` on, the probe counts its frames from 0 again (as after a trigger).
    void set_frame_counter_origin(uint64_t super_frame) { m_frame_counter_origin = super_frame; }
    // Value `element` (0..34) of a frame as the decoder publishes it.
    uint16_t frame_value(uint32_t port, uint64_t super_frame, uint32_t frame, uint32_t element) const;
    // The low 11 bits of that value's PSB word (the test pattern also uses bit 10, which is not
    // part of the value).
    uint16_t frame_word_bits(uint32_t port, uint64_t super_frame, uint32_t frame, uint32_t element) const;

    // RHD frame `frame` (0 = the first of the recording). No sample word equals the preamble's
    // first word, so a decoder that lost step finds the next frame.
    uint32_t rhd_timestamp(uint64_t frame) const;
    uint16_t rhd_amplifier_sample(uint64_t frame, uint32_t stream, uint32_t slot) const;
    uint16_t rhd_auxiliary(uint64_t frame, uint32_t index) const;
    uint32_t rhd_ttl_in(uint64_t frame) const;
    // The pulser's level at that frame.
    bool sync_level(uint64_t frame) const;
    uint32_t rhd_ttl_out(uint64_t frame) const;

    const Content_Settings& settings() const { return m_settings; }

private:
    uint16_t raw_ap_bits(uint32_t port, uint64_t super_frame, uint32_t channel) const;
    uint16_t raw_lfp_bits(uint32_t port, uint64_t lfp_sample, uint32_t channel) const;
    uint16_t neural_ap(uint32_t port, uint64_t sample, uint32_t channel) const;
    uint16_t neural_lfp(uint32_t port, uint64_t sample, uint32_t channel) const;
    uint16_t sine_at(uint64_t ap_sample_time) const;
    uint64_t hash(uint64_t a, uint64_t b, uint64_t c, uint64_t d) const;

    Content_Settings m_settings;
    uint64_t m_frame_counter_origin = 0;
    uint32_t m_sine_phase_step;
    std::array<int16_t, 1024> m_sine_table{};
    std::array<int16_t, 32> m_spike_shape{};
};

} // namespace Selvan::MURA::synth
