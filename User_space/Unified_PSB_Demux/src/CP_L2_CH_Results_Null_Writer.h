#pragma once

#include "I_L2_Demux_CH_Results.h"

namespace Selvan::MURA::demux {

// Discards channel blocks; a placeholder wherever a channel listener must be supplied.
class MURA_EXPORT CP_L2_CH_Results_Null_Writer : public I_L2_Demux_CH_Results {
public:
    void publish_ap_ch_data(Channel_Block&) override {}
    void publish_lp_ch_data(Channel_Block&) override {}
};

} // namespace Selvan::MURA::demux
