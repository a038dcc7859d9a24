#pragma once

#include "Export.h"
#include "I_L2_Demux_CH_Results.h"

#include <atomic>
#include <cstdint>

namespace Selvan::MURA {

// Compares every channel block of a port with the probe's PSB test pattern: alternating
// 0b0101010101 and 0b1010101010 by channel, the 10-bit values the decoder delivers. The first
// AP and the first LFP block are not compared (they may hold what came before the pattern).
class MURA_EXPORT PSB_L2_Tester : public demux::I_L2_Demux_CH_Results {
public:
    static constexpr uint16_t EVEN_CHANNEL_PATTERN = 0x0555 & 0x3FF;
    static constexpr uint16_t ODD_CHANNEL_PATTERN = 0x02AA;

    void publish_ap_ch_data(demux::Channel_Block& block) override;
    void publish_lp_ch_data(demux::Channel_Block& block) override;

    uint32_t successful_comparison_count() const { return m_successful.load(); }
    uint32_t failed_comparison_count() const { return m_failed.load(); }

private:
    void compare(const demux::Channel_Block& block);

    bool m_skip_first_lfp_block = true;
    bool m_skip_first_ap_block = true;
    std::atomic<uint32_t> m_successful{0};
    std::atomic<uint32_t> m_failed{0};
};

} // namespace Selvan::MURA
