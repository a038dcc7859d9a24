#pragma once

#include "I_RHD_Frame_Listener.h"

namespace Selvan::MURA::demux {

// Discards RHD frames; a placeholder wherever an RHD listener must be supplied.
class MURA_EXPORT RHD_Frame_Null_listener : public I_RHD_Frame_Listener {
public:
    void on_rhd_frame(const RHD_Frame&) override {}
};

} // namespace Selvan::MURA::demux
