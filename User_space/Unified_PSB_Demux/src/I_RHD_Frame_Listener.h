#pragma once

#include "Export.h"
#include "RHD_Frame.h"

namespace Selvan::MURA::demux {

// Receives every valid RHD frame, on the RHD worker thread.
class MURA_EXPORT I_RHD_Frame_Listener {
public:
    virtual void on_rhd_frame(const RHD_Frame& frame) = 0;
    // The worker has parsed every word it had: a listener that holds frames back for a batch
    // lets them go.
    virtual void end_batch() {}
    virtual ~I_RHD_Frame_Listener() = default;
};

} // namespace Selvan::MURA::demux
