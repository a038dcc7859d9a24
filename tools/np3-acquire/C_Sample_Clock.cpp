#include "C_Sample_Clock.h"

namespace Selvan::MURA::acquire {

// floor(10 n / 3) = t gives n = ceil(3 t / 10) back, for every n.
uint64_t C_Sample_Clock::advance(uint32_t timestamp) {
    if (m_started && timestamp < m_last_timestamp)
        m_high += uint64_t{1} << 32;
    m_last_timestamp = timestamp;
    const uint64_t time = m_high + timestamp;
    const uint64_t sample = (3 * time + 9) / 10;
    if (!m_started) {
        m_started = true;
        m_first = sample;
        m_index = 0;
        return 0;
    }
    const uint64_t index = sample > m_first ? sample - m_first : 0;
    const uint64_t missing = index > m_index + 1 ? index - m_index - 1 : 0;
    m_index = index > m_index ? index : m_index + 1;
    return missing;
}

} // namespace Selvan::MURA::acquire
