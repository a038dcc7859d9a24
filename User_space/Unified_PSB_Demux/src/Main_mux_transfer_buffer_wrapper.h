#pragma once

#include <cstdint>

namespace Selvan::MURA::demux {

// One transfer of the box's multiplexed card-to-host stream: up to 1 MiB of whole 16-byte rows.
// A length of 0 is the poison packet that ends the stream; END_OF_DATA marks the end of a
// finite stream, after which what the ports have accumulated is decoded. Page-aligned, so that
// the device's DMA reads can write into it directly.
struct alignas(4096) Main_mux_transfer_buffer_wrapper {
    static constexpr uint32_t CAPACITY = 0x100000;
    static constexpr uint32_t END_OF_DATA = 0xFFFFFFFF;
    uint8_t data[CAPACITY];
    uint32_t length;
};

// The NP payload of one port collected for its worker: the 14 payload bytes of 116,480 rows,
// which are 1,792 whole PSB super frames. A used count of 0 is the poison packet. The fuzzing
// build makes it two super frames, so that inputs of a few kilobytes reach the NP workers.
#ifndef NP3_ACCUMULATION_SUPER_FRAMES
#define NP3_ACCUMULATION_SUPER_FRAMES 1792
#endif
struct NP_Accumulation_Buffer {
    static constexpr uint32_t SUPER_FRAMES = NP3_ACCUMULATION_SUPER_FRAMES;
    static constexpr uint32_t SUPER_FRAME_BYTES = 910;
    static constexpr uint32_t CAPACITY = SUPER_FRAMES * SUPER_FRAME_BYTES;
    // A row's payload is appended as 16 bytes, two of them beyond it, which the next row
    // overwrites; the last row's two go into this slack.
    static constexpr uint32_t SLACK = 2;
    uint8_t payload[CAPACITY + SLACK];
    uint32_t used;
};

// The stream's 16-bit words are little-endian.
inline uint16_t read_word(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

} // namespace Selvan::MURA::demux
