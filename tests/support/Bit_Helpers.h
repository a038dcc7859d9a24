#pragma once

#include <cstdint>
#include <vector>

namespace Selvan::MURA::test_support {

// The bytes of a configuration image as the probe's chain receives them: each byte with its
// bit order reversed, the most significant bit shifted in first.
template <class Image>
std::vector<uint8_t> bit_reversed(const Image& image) {
    std::vector<uint8_t> bytes;
    for (uint8_t b : image) {
        uint8_t r = 0;
        for (int i = 0; i < 8; ++i)
            r = static_cast<uint8_t>(r | (((b >> i) & 1) << (7 - i)));
        bytes.push_back(r);
    }
    return bytes;
}

} // namespace Selvan::MURA::test_support
