#include "L2_PSB_Tester.h"

#include "Console.h"

namespace Selvan::MURA {

void PSB_L2_Tester::compare(const demux::Channel_Block& block) {
    for (uint32_t channel = 0; channel < block.size(); ++channel) {
        const uint16_t expected = channel % 2 ? ODD_CHANNEL_PATTERN : EVEN_CHANNEL_PATTERN;
        if (block[channel] != expected) {
            console::err("PSB test ch_data compare failed at : {}\n", channel);
            ++m_failed;
            return;
        }
    }
    ++m_successful;
}

void PSB_L2_Tester::publish_ap_ch_data(demux::Channel_Block& block) {
    if (m_skip_first_ap_block) {
        m_skip_first_ap_block = false;
        return;
    }
    compare(block);
}

void PSB_L2_Tester::publish_lp_ch_data(demux::Channel_Block& block) {
    if (m_skip_first_lfp_block) {
        m_skip_first_lfp_block = false;
        return;
    }
    compare(block);
}

} // namespace Selvan::MURA
