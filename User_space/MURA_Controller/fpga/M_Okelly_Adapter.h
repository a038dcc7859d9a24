#pragma once

#include "A_Register_Module.h"

#include <set>
#include <vector>

namespace Selvan::MURA {

// Control block of the RHD headstage interface, organised in Opal Kelly endpoints: wire
// endpoints 0x00..0x3F and trigger endpoints from 0x40 on.
class MURA_EXPORT Okelly_Adapter_Module : public A_Register_Module {
public:
    static constexpr uint16_t EP_RUN_MODE = 0x00;
    static constexpr uint16_t EP_MAX_TIME_STEP = 0x01;
    static constexpr uint16_t EP_DATA_CLOCK_PLL = 0x03;
    static constexpr uint16_t EP_MISO_DELAY = 0x04;
    static constexpr uint16_t EP_CMD_RAM_ADDRESS = 0x05;
    static constexpr uint16_t EP_CMD_RAM_BANK = 0x06;
    static constexpr uint16_t EP_CMD_RAM_DATA = 0x07;
    static constexpr uint16_t EP_AUX_CMD_LAST_INDEX = 0x0B;
    // The last index of a slot's list is a 10-bit field.
    static constexpr uint32_t MAX_AUX_COMMANDS = 1024;
    static constexpr uint16_t EP_STREAM_ENABLE = 0x14;
    static constexpr uint16_t EP_TTL_OUT = 0x15;
    static constexpr uint16_t EP_TTL_IN = 0x23;
    static constexpr uint16_t EP_PLL_STATUS = 0x24;
    static constexpr uint16_t TRIGGER_CONFIG = 0x40;
    static constexpr uint16_t TRIGGER_FSM = 0x41;
    static constexpr uint32_t PLL_LOCKED = 3;
    // The PLL is polled every 10 ms; it locks in microseconds, so 500 polls (5 s) mean it never will.
    static constexpr uint32_t PLL_LOCK_POLL_LIMIT = 500;

    Okelly_Adapter_Module(uint32_t base, I_MemMapped_AXI* bus);

    // Register address of an endpoint: wire endpoints by index, triggers 0x18 words lower.
    uint32_t endpoint_address(uint16_t endpoint) const;

    void set_continous_mode(bool on) const;
    void set_max_time_step(uint32_t steps) const;
    // Data clock = 50 MHz * m / d. Waits for the PLL to lock; false (with a message on
    // standard error) when it does not lock within the poll limit.
    bool set_spi_freq(uint8_t m, uint8_t d) const;
    void set_miso_delay(uint32_t port, uint32_t delay) const;
    void update_bank_cmd(uint8_t bank, uint16_t index, uint16_t command, uint8_t slot) const;
    // Loads a command list into a bank's RAM and tells the slot its last index. Bank or slot
    // above 2, an empty list or one longer than MAX_AUX_COMMANDS is refused on standard error
    // and nothing is written.
    void set_aux_cmds(uint8_t bank, uint8_t slot, const std::vector<uint16_t>& commands) const;
    void enable_streams(const std::set<uint32_t>& streams);
    void set_ttl_out_value(uint32_t value) const;
    uint32_t get_ttl_in_value() const;
    void trigger_fsm() const;

    uint32_t enabled_stream_count() const { return m_enabled_stream_count; }

private:
    void write_endpoint(uint16_t endpoint, uint32_t value) const;
    uint32_t read_endpoint(uint16_t endpoint) const;

    uint32_t m_enabled_stream_count = 0;
};

} // namespace Selvan::MURA
