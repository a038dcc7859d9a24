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
    uint64_t last_super_frame() const { return m_first_super_frame + 12 * m_packets - 2; }
    uint64_t packets() const { return m_packets; }
    const std::string& failure() const { return m_failure; }

private:
    uint64_t super_frame_spelled_by(const Packet& packet) const {
        uint64_t number = 0;
        for (uint32_t digit = 0; digit < 4; ++digit) {
            const uint32_t offset = 7 * digit + 101 * m_port;
            number |= static_cast<uint64_t>((static_cast<uint32_t>(packet.apData[0][digit]) - offset) & 0x3FF)
                      << (10 * digit);
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
    // super frames T + 12n - 1 + k (the first packet: T + k, k < 11, and an empty twelfth) and
    // LFP sample (T + 12n) / 12.
    void expect_packet(const Packet& packet, uint64_t n) {
        const uint64_t first = m_first_super_frame;
        for (uint32_t k = 0; k < 12; ++k) {
            const bool empty = n == 0 && k == 11;
            const uint64_t sf = n == 0 ? first + k : first + 12 * n - 1 + k;
            const uint32_t timestamp = empty ? 0 : static_cast<uint32_t>((sf - first) / 30000);
            if (packet.timestamp[k] != timestamp || packet.Status[k] != 0)
                return fail(n, "timestamp or status of AP sample " + std::to_string(k));
            for (uint32_t c = 0; c < 384; ++c) {
                const int16_t expected = empty ? 0 : static_cast<int16_t>(m_content.ap_value(m_port, sf, c));
                if (packet.apData[k][c] != expected)
                    return fail(n, "AP sample " + std::to_string(k) + " channel " + std::to_string(c));
            }
        }
        const uint64_t lfp_sample = (first + 12 * n) / 12;
        for (uint32_t c = 0; c < 384; ++c) {
            if (packet.lfpData[c] != static_cast<int16_t>(m_content.lfp_value(m_port, lfp_sample, c)))
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
