#pragma once

#include "A_MURA_Controller.h"
#include "Stream_Read_Loop.h"

#include <cstdint>

namespace Selvan::MURA {

// What the two XDMA device classes (Windows and Linux) share: the register BAR mapped into the
// process and seen as 32-bit words, and the card-to-host stream read into the prepared buffer
// by the common read loop. The platform class maps and forgets the window and performs one
// read of the stream.
class MURA_EXPORT A_XDMA_MURA_Controller : public A_MURA_Controller {
public:
    // Outside the mapped window (or with none) an access goes nowhere and reads as all ones,
    // as an unanswered PCIe read does, instead of touching unmapped memory.
    void write_register(uint32_t byte_address, uint32_t value) override;
    uint32_t read_register(uint32_t byte_address) override;
    void write_fifo_bytes(uint32_t byte_address, uint8_t count, const uint8_t* bytes) override;
    // The time-out is the limit of one blocking read (0 for the default of one second).
    bool prepare_for_read(uint8_t* buffer, uint32_t length, bool flag, uint32_t timeout_ms) override;
    uint32_t read_stream(uint64_t reserved, bool wait_for_full) override;

protected:
    // The driver's mapping of the BAR, or null and 0 once it is released.
    void set_register_window(volatile uint32_t* window, uint32_t size_in_bytes);
    bool has_register_window() const { return m_register_window != nullptr; }
    // One read of the stream device into `destination`, waiting at most the time limit.
    virtual Stream_Read_Result read_stream_once(uint8_t* destination, uint32_t length,
                                                uint32_t time_limit_ms) = 0;

private:
    volatile uint32_t* register_word(uint32_t byte_address) const;

    volatile uint32_t* m_register_window = nullptr;
    uint32_t m_register_window_size = 0;
    uint8_t* m_stream_buffer = nullptr;
    uint32_t m_stream_length = 0;
    bool m_stream_flag = false; // kept as prepared, not used
    uint32_t m_stream_timeout_ms = 0;
};

} // namespace Selvan::MURA
