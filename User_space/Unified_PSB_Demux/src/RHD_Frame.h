#pragma once

#include <array>
#include <cstdint>

namespace Selvan::MURA::demux {

// One Intan RHD data frame as the box sends it. Only the first stream_count stream arrays are
// present; the others are kept zero. The record is reused from frame to frame, so a listener
// must copy what it keeps.
struct RHD_Frame {
    static constexpr uint32_t MAX_STREAM_COUNT = 32;
    static constexpr uint32_t SLOTS_PER_STREAM = 35;
    static constexpr uint64_t PREAMBLE = 0xD7A22AAA38132A53ull;

    uint64_t preamble = 0;
    uint32_t timestamp = 0;
    uint32_t stream_count = 0;
    std::array<std::array<uint16_t, SLOTS_PER_STREAM>, MAX_STREAM_COUNT> streams{};
    std::array<uint16_t, 8> auxiliary{};
    uint32_t ttl_in = 0;
    uint32_t ttl_out = 0;

    bool has_stream(uint32_t stream) const { return stream < stream_count; }

    // Words of one frame on the wire: preamble, timestamp, 35 slots per stream, a filler of
    // (streams mod 4) words, two unused words, eight auxiliary words, TTL in and TTL out.
    static constexpr uint32_t word_count(uint32_t streams) {
        return 20 + SLOTS_PER_STREAM * streams + streams % 4;
    }
};

} // namespace Selvan::MURA::demux
