#pragma once

#include "Export.h"
#include "I_L2_Demux_CH_Results.h"

#include <cstddef>
#include <mutex>
#include <vector>

namespace Selvan::MURA {

// Collects the first 1024 AP and LFP channel blocks of a port for the signal test. Blocks are
// published on the port's worker thread while the test thread watches the count.
class MURA_EXPORT L2_Sample_Accumulator : public demux::I_L2_Demux_CH_Results {
public:
    static constexpr size_t MAX_BLOCKS = 1024;

    void publish_ap_ch_data(demux::Channel_Block& block) override;
    void publish_lp_ch_data(demux::Channel_Block& block) override;

    size_t ap_block_count() const;
    size_t lfp_block_count() const;
    // A copy of the AP blocks collected so far.
    std::vector<demux::Channel_Block> ap_blocks() const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<demux::Channel_Block> m_ap_blocks;
    std::vector<demux::Channel_Block> m_lfp_blocks;
};

} // namespace Selvan::MURA
