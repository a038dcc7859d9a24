#pragma once

#include "C_Synth_Content.h"
#include "NeuropixAPI.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

namespace Selvan::MURA::test_support {

using Neuropixels::electrodePacket;
using synth::C_Synth_Content;

// What a port's packets must hold when the data runs from `first_super_frame` for
// `super_frames`: one packet per whole LFP cycle (super frames 12 m to 12 m + 11; a cycle the data
// holds in part makes none), its samples centred (code - 512), its timestamps floor(10 n / 3) of
// the super frame number n, TRIGGER on the first sample of the first packet, and with
// `sync_routed` SYNC where the content's sync pulser is high (its RHD frames count the same n).
inline std::vector<std::unique_ptr<electrodePacket>>
expected_packets(const C_Synth_Content& content, uint32_t port, uint64_t first_super_frame,
                 uint64_t super_frames, bool sync_routed = false) {
    std::vector<std::unique_ptr<electrodePacket>> packets;
    const uint64_t first_cycle = (first_super_frame + 11) / 12;
    const uint64_t end_cycle = (first_super_frame + super_frames) / 12;
    for (uint64_t cycle = first_cycle; cycle < end_cycle; ++cycle) {
        auto packet = std::make_unique<electrodePacket>();
        *packet = {};
        for (uint32_t k = 0; k < 12; ++k) {
            const uint64_t sf = 12 * cycle + k;
            for (uint32_t channel = 0; channel < 384; ++channel)
                packet->apData[k][channel] = static_cast<int16_t>(content.ap_value(port, sf, channel) - 512);
            packet->timestamp[k] = static_cast<uint32_t>(10 * sf / 3);
            if (sync_routed && content.sync_level(sf))
                packet->Status[k] |= 64; // SYNC
        }
        for (uint32_t channel = 0; channel < 384; ++channel)
            packet->lfpData[channel] = static_cast<int16_t>(content.lfp_value(port, cycle, channel) - 512);
        if (cycle == first_cycle)
            packet->Status[0] |= 1; // TRIGGER
        packets.push_back(std::move(packet));
    }
    return packets;
}

inline void expect_same_packet(const electrodePacket& actual, const electrodePacket& expected, uint32_t port,
                               size_t n) {
    for (uint32_t k = 0; k < 12; ++k) {
        ASSERT_EQ(actual.timestamp[k], expected.timestamp[k]) << "port " << port << " packet " << n;
        ASSERT_EQ(actual.Status[k], expected.Status[k])
            << "port " << port << " packet " << n << " sample " << k;
        for (uint32_t c = 0; c < 384; ++c)
            ASSERT_EQ(actual.apData[k][c], expected.apData[k][c])
                << "port " << port << " packet " << n << " AP sample " << k << " channel " << c;
    }
    for (uint32_t c = 0; c < 384; ++c)
        ASSERT_EQ(actual.lfpData[c], expected.lfpData[c])
            << "port " << port << " packet " << n << " channel " << c;
}

} // namespace Selvan::MURA::test_support
