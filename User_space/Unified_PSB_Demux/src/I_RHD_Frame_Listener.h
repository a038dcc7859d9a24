#pragma once

#include "Export.h"
#include "RHD_Frame.h"

namespace Selvan::MURA::demux {

// Receives every valid RHD frame, on the RHD worker thread.
class MURA_EXPORT I_RHD_Frame_Listener {
public:
    virtual void on_rhd_frame(const RHD_Frame& frame) = 0;
    virtual ~I_RHD_Frame_Listener() = default;
};

} // namespace Selvan::MURA::demux
