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

// What a port's packets must hold: super frame S sends LFP slot S mod 12 in its frame 0 (which
// completes the LFP block, and so a packet, at slot 11) and then all AP slots.
inline std::vector<std::unique_ptr<electrodePacket>> expected_packets(const C_Synth_Content& content,
                                                                      uint32_t port,
                                                                      uint64_t first_super_frame,
                                                                      uint64_t super_frames) {
    std::vector<std::unique_ptr<electrodePacket>> packets;
    auto building = std::make_unique<electrodePacket>();
    *building = {};
    std::array<int16_t, 384> lfp{};
    uint32_t index = 0;
    for (uint64_t sf = first_super_frame; sf < first_super_frame + super_frames; ++sf) {
        const uint32_t slot = static_cast<uint32_t>(sf % 12);
        for (uint32_t sample = 0; sample < 32; ++sample) {
            const uint32_t channel = C_Synth_Content::channel_of(slot, sample);
            lfp[channel] = static_cast<int16_t>(content.lfp_value(port, sf / 12, channel));
        }
        if (slot == 11) {
            std::copy(lfp.begin(), lfp.end(), building->lfpData);
            packets.push_back(std::make_unique<electrodePacket>(*building));
            index = 0;
        }
        for (uint32_t channel = 0; channel < 384; ++channel)
            building->apData[index][channel] = static_cast<int16_t>(content.ap_value(port, sf, channel));
        building->timestamp[index] = static_cast<uint32_t>((sf - first_super_frame) / 30000);
        index = (index + 1) % 12;
    }
    return packets;
}

inline void expect_same_packet(const electrodePacket& actual, const electrodePacket& expected, uint32_t port,
                               size_t n) {
    for (uint32_t k = 0; k < 12; ++k) {
        ASSERT_EQ(actual.timestamp[k], expected.timestamp[k]) << "port " << port << " packet " << n;
        ASSERT_EQ(actual.Status[k], 0);
        for (uint32_t c = 0; c < 384; ++c)
            ASSERT_EQ(actual.apData[k][c], expected.apData[k][c])
                << "port " << port << " packet " << n << " AP sample " << k << " channel " << c;
    }
    for (uint32_t c = 0; c < 384; ++c)
        ASSERT_EQ(actual.lfpData[c], expected.lfpData[c])
            << "port " << port << " packet " << n << " channel " << c;
}

} // namespace Selvan::MURA::test_support
