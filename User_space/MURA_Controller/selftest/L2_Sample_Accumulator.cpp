#include "L2_Sample_Accumulator.h"

namespace Selvan::MURA {

void L2_Sample_Accumulator::publish_ap_ch_data(demux::Channel_Block& block) {
    std::lock_guard lock(m_mutex);
    if (m_ap_blocks.size() < MAX_BLOCKS)
        m_ap_blocks.push_back(block);
}

void L2_Sample_Accumulator::publish_lp_ch_data(demux::Channel_Block& block) {
    std::lock_guard lock(m_mutex);
    if (m_lfp_blocks.size() < MAX_BLOCKS)
        m_lfp_blocks.push_back(block);
}

size_t L2_Sample_Accumulator::ap_block_count() const {
    std::lock_guard lock(m_mutex);
    return m_ap_blocks.size();
}

size_t L2_Sample_Accumulator::lfp_block_count() const {
    std::lock_guard lock(m_mutex);
    return m_lfp_blocks.size();
}

std::vector<demux::Channel_Block> L2_Sample_Accumulator::ap_blocks() const {
    std::lock_guard lock(m_mutex);
    return m_ap_blocks;
}

void L2_Sample_Accumulator::clear() {
    std::lock_guard lock(m_mutex);
    m_ap_blocks.clear();
    m_lfp_blocks.clear();
}

} // namespace Selvan::MURA
