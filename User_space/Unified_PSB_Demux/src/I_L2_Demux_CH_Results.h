#pragma once

#include "Export.h"

#include <array>
#include <cstdint>

namespace Selvan::MURA::demux {

constexpr uint32_t NP_CHANNEL_COUNT = 384;

// One sample of every electrode channel, indexed by channel 0..383; unsigned 10-bit ADC codes.
using Channel_Block = std::array<uint16_t, NP_CHANNEL_COUNT>;

// Receives the complete AP and LFP channel blocks of one probe port. The blocks belong to the
// caller and are overwritten after the call; a listener may correct them in place before
// passing them on, and must copy what it keeps.
class MURA_EXPORT I_L2_Demux_CH_Results {
public:
    // The super frame the next block belongs to, numbered by the probe's frame counter (which
    // starts at the run's trigger): an AP block is that super frame's sample, an LFP block was
    // completed in it and is LFP sample super_frame / 12. Listeners that place samples in time
    // use it; a listener that passes blocks on passes it on with them.
    virtual void set_super_frame(uint64_t super_frame) { (void)super_frame; }
    virtual void publish_ap_ch_data(Channel_Block& block) = 0;
    virtual void publish_lp_ch_data(Channel_Block& block) = 0;
    // A worker brackets the blocks it publishes from one batch of data with these: between them
    // a listener may keep what it looks up per block (its own listener, its tables) instead of
    // looking it up again, and at end_batch it lets go of it.
    virtual void begin_batch() {}
    virtual void end_batch() {}
    virtual ~I_L2_Demux_CH_Results() = default;
};

// How a listener that holds what it looks up passes one block on: `pass_on` does it; outside a
// batch the block is a batch of its own, and `let_go` releases what was held for it, also when
// `pass_on` throws.
template <class Pass_On, class Let_Go>
void pass_block_on_within_batch(bool in_batch, Pass_On&& pass_on, Let_Go&& let_go) {
    if (in_batch) {
        pass_on();
        return;
    }
    try {
        pass_on();
    } catch (...) {
        let_go();
        throw;
    }
    let_go();
}

} // namespace Selvan::MURA::demux
