#pragma once

#include <cstdint>

namespace Selvan::MURA {

// The card-to-host DMA stream of the box.
class I_InputDataStream {
public:
    // Remembers the destination buffer and how many bytes one read must deliver. The flag and
    // the time-out are stored for the driver's sake; callers pass false and 1000 ms.
    virtual bool prepare_for_read(uint8_t* buffer, uint32_t length, bool flag, uint32_t timeout_ms) = 0;
    // Fills the prepared buffer and returns the number of bytes delivered.
    virtual uint32_t read_stream(uint64_t reserved, bool wait_for_full) = 0;

protected:
    ~I_InputDataStream() = default;
};

} // namespace Selvan::MURA
