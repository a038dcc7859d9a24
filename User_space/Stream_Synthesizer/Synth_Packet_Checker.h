#pragma once

#include "C_Synth_Content.h"

#include <cstdint>
#include <string>

namespace Selvan::MURA::synth {

// Checks one port's electrode packets as they arrive against the synthesized probe's content,
// counter or ramp: the first packet tells the super frame the run began with (the counter
// content spells the number in AP sample 0; the ramp's first packet is found among the places
// of its period), and every later packet must continue from there, sample for sample, so a
// lost, repeated or corrupted packet is caught at once. `Packet` is the published
// electrodePacket layout (hosts that declare it themselves use their own type).
template <class Packet>
class Synth_Packet_Checker {
public:
    // The ramp repeats after 1,024 LFP samples; a run begins on a whole LFP sample.
    static constexpr uint64_t RAMP_PERIOD = 1024 * C_Synth_Content::SLOTS;

    explicit Synth_Packet_Checker(uint32_t port, Np_Content content = Np_Content::counter)
        : m_port(port)
        , m_content(settings_of(content)) {}

    // Returns false once a packet differed (the first difference is kept in failure()).
    bool check(const Packet& packet) {
        if (!m_failure.empty())
            return false;
        if (m_packets == 0)
            m_first_super_frame = m_content.settings().np_content == Np_Content::counter
                                      ? super_frame_spelled_by(packet)
                                      : ramp_start_of(packet);
        expect_packet(packet, m_packets);
        ++m_packets;
        return m_failure.empty();
    }

    uint64_t first_super_frame() const { return m_first_super_frame; }
    uint64_t last_super_frame() const { return m_first_super_frame + 12 * m_packets - 1; }
    uint64_t packets() const { return m_packets; }
    const std::string& failure() const { return m_failure; }

private:
    uint64_t super_frame_spelled_by(const Packet& packet) const {
        uint64_t number = 0;
        for (uint32_t digit = 0; digit < 4; ++digit) {
            const uint32_t offset = 7 * digit + 101 * m_port;
            const auto code = static_cast<uint32_t>(packet.apData[0][digit] + 512);
            number |= static_cast<uint64_t>((code - offset) & 0x3FF) << (10 * digit);
        }
        return number;
    }

    // The place in the ramp's period whose first packet this is (0 when none is).
    uint64_t ramp_start_of(const Packet& packet) {
        for (uint64_t first = 0; first < RAMP_PERIOD; first += C_Synth_Content::SLOTS) {
            m_first_super_frame = first;
            m_failure.clear();
            expect_packet(packet, 0);
            if (m_failure.empty())
                return first;
        }
        return 0;
    }

    // Packet n of a run that began at super frame T (a multiple of 12) holds the AP samples of
    // super frames T + 12 n + k and LFP sample T / 12 + n, centred (code - 512); its timestamps
    // count the run's samples on the 100 kHz clock, floor(10 (12 n + k) / 3); its status carries
    // TRIGGER on the run's first sample and nothing else but SYNC, which the checker leaves to
    // its host.
    void expect_packet(const Packet& packet, uint64_t n) {
        constexpr uint16_t TRIGGER = 1;
        constexpr uint16_t SYNC = 1u << 6;
        for (uint32_t k = 0; k < 12; ++k) {
            const uint64_t sample = 12 * n + k;
            const uint64_t sf = m_first_super_frame + sample;
            const uint16_t status = n == 0 && k == 0 ? TRIGGER : 0;
            if (packet.timestamp[k] != static_cast<uint32_t>(10 * sample / 3) ||
                (packet.Status[k] & ~SYNC) != status)
                return fail(n, "timestamp or status of AP sample " + std::to_string(k));
            for (uint32_t c = 0; c < 384; ++c) {
                if (packet.apData[k][c] != static_cast<int16_t>(m_content.ap_value(m_port, sf, c) - 512))
                    return fail(n, "AP sample " + std::to_string(k) + " channel " + std::to_string(c));
            }
        }
        const uint64_t lfp_sample = m_first_super_frame / 12 + n;
        for (uint32_t c = 0; c < 384; ++c) {
            if (packet.lfpData[c] != static_cast<int16_t>(m_content.lfp_value(m_port, lfp_sample, c) - 512))
                return fail(n, "LFP channel " + std::to_string(c));
        }
    }

    void fail(uint64_t n, const std::string& what) {
        m_failure = "port " + std::to_string(m_port + 1) + " packet " + std::to_string(n) + ": " + what;
    }

    static Content_Settings settings_of(Np_Content content) {
        Content_Settings settings;
        settings.np_content = content;
        return settings;
    }

    uint32_t m_port;
    C_Synth_Content m_content;
    uint64_t m_first_super_frame = 0;
    uint64_t m_packets = 0;
    std::string m_failure;
};

} // namespace Selvan::MURA::synth
