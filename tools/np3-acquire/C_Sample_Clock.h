#pragma once

#include <cstdint>

namespace Selvan::MURA::acquire {

// The sample index behind the packets' timestamps. Electrode and ADC packets count a 100 kHz
// clock, floor(10 n / 3) for sample n of the run, in 32 bits that wrap; consecutive samples step
// by 3 or 4, and a larger step is a gap. The first sample seen is index 0 of the file, and the
// index of every later one is its time since: what a gap left out is written as filler, so that
// an index in the file stays a time.
class C_Sample_Clock {
public:
    // Samples missing before the sample with this timestamp (0 for the first and for one that
    // follows its predecessor); the sample's index is index() afterwards.
    uint64_t advance(uint32_t timestamp);
    uint64_t index() const { return m_index; }
    bool started() const { return m_started; }

private:
    bool m_started = false;
    uint64_t m_first = 0;
    uint64_t m_index = 0;
    uint64_t m_high = 0;
    uint32_t m_last_timestamp = 0;
};

} // namespace Selvan::MURA::acquire
