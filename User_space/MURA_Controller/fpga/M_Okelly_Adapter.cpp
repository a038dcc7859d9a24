#include "M_Okelly_Adapter.h"

#include "Console.h"
#include "Pause.h"

namespace Selvan::MURA {

Okelly_Adapter_Module::Okelly_Adapter_Module(uint32_t base, I_MemMapped_AXI* bus)
    : A_Register_Module("Okelly_Adapter_Module ctor at base adr : ", base, bus) {}

uint32_t Okelly_Adapter_Module::endpoint_address(uint16_t endpoint) const {
    const uint16_t index = endpoint < TRIGGER_CONFIG ? endpoint : static_cast<uint16_t>(endpoint - 0x18);
    return m_base + 4u * index;
}

void Okelly_Adapter_Module::write_endpoint(uint16_t endpoint, uint32_t value) const {
    m_bus->write_register(endpoint_address(endpoint), value);
}

uint32_t Okelly_Adapter_Module::read_endpoint(uint16_t endpoint) const {
    return m_bus->read_register(endpoint_address(endpoint));
}

void Okelly_Adapter_Module::set_continous_mode(bool on) const {
    write_endpoint(EP_RUN_MODE, on ? 2 : 0);
}

void Okelly_Adapter_Module::set_max_time_step(uint32_t steps) const {
    write_endpoint(EP_MAX_TIME_STEP, steps);
}

bool Okelly_Adapter_Module::set_spi_freq(uint8_t m, uint8_t d) const {
    write_endpoint(EP_DATA_CLOCK_PLL, (static_cast<uint32_t>(m) << 8) + d);
    write_endpoint(TRIGGER_CONFIG, 1);
    console::out("Setting PLL freq to {:g} MHz\n", static_cast<float>(m * 50.0 / d));
    uint32_t polls = 1;
    while (read_endpoint(EP_PLL_STATUS) != PLL_LOCKED) {
        if (polls == PLL_LOCK_POLL_LIMIT) {
            console::err("PLL did not lock after {} status reads\n", polls);
            return false;
        }
        console::out("Waiting for PLL to lock\n");
        pause_for(std::chrono::milliseconds(10));
        ++polls;
    }
    return true;
}

void Okelly_Adapter_Module::set_miso_delay(uint32_t port, uint32_t delay) const {
    // Eight 4-bit fields fit the word; a port beyond them has no field to write.
    write_endpoint(EP_MISO_DELAY, port < 8 ? delay << (4 * port) : 0);
}

void Okelly_Adapter_Module::update_bank_cmd(uint8_t bank, uint16_t index, uint16_t command,
                                            uint8_t slot) const {
    write_endpoint(EP_CMD_RAM_ADDRESS, index);
    write_endpoint(EP_CMD_RAM_BANK, bank);
    write_endpoint(EP_CMD_RAM_DATA, command);
    write_endpoint(TRIGGER_CONFIG, (2u << slot) & 0xFF);
}

void Okelly_Adapter_Module::set_aux_cmds(uint8_t bank, uint8_t slot,
                                         const std::vector<uint16_t>& commands) const {
    if (bank > 2 || slot > 2) {
        console::err("invalid argument\n");
        return;
    }
    if (commands.empty()) {
        console::err("cmd list empty\n");
        return;
    }
    // The FPGA takes the index of the last command in a 10-bit field per slot.
    if (commands.size() > MAX_AUX_COMMANDS) {
        console::err("cmd list too long : {} commands, at most {}\n", commands.size(), MAX_AUX_COMMANDS);
        return;
    }
    for (size_t i = 0; i < commands.size(); ++i)
        update_bank_cmd(bank, static_cast<uint16_t>(i), commands[i], slot);
    const uint32_t shift = 10u * slot;
    const uint32_t field_mask = 0x3FFu << shift;
    uint32_t last_indices = read_endpoint(EP_AUX_CMD_LAST_INDEX);
    last_indices =
        (last_indices & ~field_mask) | ((static_cast<uint32_t>(commands.size() - 1) << shift) & field_mask);
    write_endpoint(EP_AUX_CMD_LAST_INDEX, last_indices);
}

void Okelly_Adapter_Module::enable_streams(const std::set<uint32_t>& streams) {
    uint32_t mask = 0;
    for (uint32_t stream : streams) {
        if (stream < 32)
            mask |= 1u << stream;
    }
    m_enabled_stream_count = static_cast<uint32_t>(streams.size());
    write_endpoint(EP_STREAM_ENABLE, mask);
}

void Okelly_Adapter_Module::set_ttl_out_value(uint32_t value) const {
    write_endpoint(EP_TTL_OUT, value);
}

uint32_t Okelly_Adapter_Module::get_ttl_in_value() const {
    return read_endpoint(EP_TTL_IN);
}

void Okelly_Adapter_Module::trigger_fsm() const {
    write_endpoint(TRIGGER_FSM, 1);
}

} // namespace Selvan::MURA
