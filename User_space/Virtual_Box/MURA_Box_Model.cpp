#include "MURA_Box_Model.h"

#include "L2_MURA_Configurator.h"

#include "MURA_Register_Map.h"
#include "M_Foreign_HW_ICAP.h"
#include "M_HW_ICAP.h"
#include "M_Okelly_Adapter.h"
#include "M_UART.h"

namespace Selvan::MURA::box_model {
namespace {

using namespace register_map;

constexpr uint32_t BLOCK_0400_END = 0x0410;
constexpr uint32_t OKELLY_END = OKELLY_BASE + 0x100;
constexpr uint32_t HW_ICAP_END = HW_ICAP_BASE + 0x200;
constexpr uint32_t SPI_END = SPI_BASE + 0x100;

constexpr uint32_t okelly_address(uint16_t endpoint) {
    return OKELLY_BASE + 4u * (endpoint < 0x40 ? endpoint : endpoint - 0x18);
}

constexpr uint32_t reverse_bytes(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

// 7-series configuration packets the HWICAP model understands.
constexpr uint32_t WRITE_WBSTAR = 0x30020001;
constexpr uint32_t WRITE_CMD = 0x30008001;
constexpr uint32_t CMD_IPROG = 0x0F;

} // namespace

MURA_Box_Model::MURA_Box_Model() {
    m_flash_designs[NP_DESIGN_FLASH_ADDRESS] = DEFAULT_NP_SIGNATURE;
}

void MURA_Box_Model::set_signature(uint32_t signature) {
    std::lock_guard lock(m_mutex);
    m_signature = signature;
}

void MURA_Box_Model::add_flash_design(uint32_t flash_address, uint32_t signature) {
    std::lock_guard lock(m_mutex);
    m_flash_designs[flash_address] = signature;
}

void MURA_Box_Model::set_port_pll_status(uint32_t bits) {
    std::lock_guard lock(m_mutex);
    m_port_pll_status = bits;
}

void MURA_Box_Model::set_build_timestamp(uint32_t word) {
    std::lock_guard lock(m_mutex);
    m_build_timestamp = word;
}

void MURA_Box_Model::set_efuse(uint32_t word) {
    std::lock_guard lock(m_mutex);
    m_efuse = word;
}

void MURA_Box_Model::set_xadc_raw(uint32_t word) {
    std::lock_guard lock(m_mutex);
    m_xadc_raw = word;
}

void MURA_Box_Model::set_rhd_ttl_in(uint32_t value) {
    std::lock_guard lock(m_mutex);
    m_rhd_ttl_in = value;
}

void MURA_Box_Model::set_faults(const Faults& faults) {
    std::lock_guard lock(m_mutex);
    m_faults = faults;
}

bool MURA_Box_Model::open() {
    std::lock_guard lock(m_mutex);
    if (m_faults.open_fails)
        return false;
    m_open = true;
    m_link_down = false;
    ++m_open_count;
    return true;
}

void MURA_Box_Model::close() {
    std::lock_guard lock(m_mutex);
    if (m_open)
        ++m_close_count;
    m_open = false;
}

// The NP stream enables live in the control word; the RHD interface sends while its run mode
// is continuous. Read under the lock, then the stream is produced without holding it.
bool MURA_Box_Model::streams_enabled() const {
    std::lock_guard lock(m_mutex);
    return (m_control_word & 0xF) != 0 ||
           (read_okelly(okelly_address(Okelly_Adapter_Module::EP_RUN_MODE)) & 2) != 0;
}

// The probe ASIC's OP_MODE (register 0) and CAL_MOD (register 2), as the probe control writes
// them for its self tests.
MURA_Box_Model::Probe_Output MURA_Box_Model::probe_output(int port) const {
    constexpr uint8_t OP_MODE = 0x00;
    constexpr uint8_t CAL_MOD = 0x02;
    constexpr uint8_t OP_MODE_PSB_TEST = 0x50;
    constexpr uint8_t OP_MODE_CALIBRATION = 0x60;
    constexpr uint8_t CAL_MOD_TEST_OSCILLATOR = 0x10;
    std::lock_guard lock(m_mutex);
    const auto& registers = m_headstages.at(static_cast<size_t>(port)).probe_registers;
    if (registers[OP_MODE] == OP_MODE_PSB_TEST)
        return m_faults.psb_pattern_broken ? Probe_Output::broken_psb_test_pattern
                                           : Probe_Output::psb_test_pattern;
    if (registers[OP_MODE] == OP_MODE_CALIBRATION && (registers[CAL_MOD] & CAL_MOD_TEST_OSCILLATOR) != 0 &&
        !m_faults.no_test_signal)
        return Probe_Output::test_signal;
    return Probe_Output::recording;
}

Card_To_Host_Stream_Model::Enabled_Streams MURA_Box_Model::enabled_streams() const {
    std::lock_guard lock(m_mutex);
    Card_To_Host_Stream_Model::Enabled_Streams enabled;
    if (m_open && !m_link_down) {
        enabled.np_port_mask = m_control_word & 0xF;
        enabled.rhd = read_okelly(okelly_address(Okelly_Adapter_Module::EP_RUN_MODE)) & 2;
    }
    return enabled;
}

uint32_t MURA_Box_Model::read_stream(uint8_t* destination, uint32_t capacity) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_open || m_link_down)
            return 0;
    }
    return m_stream.read(destination, capacity, enabled_streams());
}

void MURA_Box_Model::write_register(uint32_t address, uint32_t value) {
    std::lock_guard lock(m_mutex);
    if (m_record_accesses)
        m_writes.push_back({address, value});
    if (!m_open || m_link_down) {
        ++m_accesses_while_closed;
        return;
    }
    write_locked(address & ~3u, value);
}

uint32_t MURA_Box_Model::read_register(uint32_t address) {
    std::lock_guard lock(m_mutex);
    if (m_record_accesses)
        m_reads.push_back(address);
    if (!m_open || m_link_down) {
        ++m_accesses_while_closed;
        return UNANSWERED_READ;
    }
    return read_locked(address & ~3u);
}

bool MURA_Box_Model::np_design_loaded() const {
    return design_identifier(m_signature) == NP_DESIGN_IDENTIFIER;
}

void MURA_Box_Model::set_access_recording(bool record) {
    std::lock_guard lock(m_mutex);
    m_record_accesses = record;
}

void MURA_Box_Model::set_soft_trigger_handler(std::function<void()> handler) {
    std::lock_guard lock(m_mutex);
    m_soft_trigger_handler = std::move(handler);
}

void MURA_Box_Model::write_locked(uint32_t address, uint32_t value) {
    if (address == CONTROL_WORD_BASE) {
        constexpr uint32_t soft_trigger = 1u << MURA_Configurator::SOFT_TRIGGER_BIT;
        const bool rising = (value & soft_trigger) != 0 && (m_control_word & soft_trigger) == 0;
        m_control_word = value;
        if (rising && m_soft_trigger_handler)
            m_soft_trigger_handler();
    } else if (address >= UART_BASE && address < BLOCK_0400_END) {
        // The Neuropixels design puts the UART here, the other designs their configuration port.
        if (!np_design_loaded())
            write_foreign_icap(address - FOREIGN_HW_ICAP_BASE, value);
        else if (address == UART_BASE + UART_Module::TX_FIFO)
            write_uart_byte(static_cast<uint8_t>(value & 0xFF));
    } else if (address >= OKELLY_BASE && address < OKELLY_END) {
        write_okelly(address, value);
    } else if (address >= HW_ICAP_BASE && address < HW_ICAP_END) {
        write_hw_icap(address - HW_ICAP_BASE, value);
    } else if (address >= SPI_BASE && address < SPI_END) {
        m_spi.write(address - SPI_BASE, value);
    } else {
        m_plain_registers[address] = value;
    }
}

uint32_t MURA_Box_Model::read_locked(uint32_t address) {
    switch (address) {
    case CONTROL_WORD_BASE:
        return m_control_word;
    case BUILD_TIMESTAMP_BASE:
        return m_build_timestamp;
    case PORT_STATUS_BASE:
        return m_port_pll_status;
    case SIGNATURE_ADDRESS:
        return m_signature;
    case XADC_TEMPERATURE_ADDRESS:
        return m_xadc_raw;
    case EFUSE_BASE:
        return m_efuse;
    default:
        break;
    }
    if (address >= UART_BASE && address < BLOCK_0400_END) {
        if (!np_design_loaded())
            return address == FOREIGN_HW_ICAP_BASE + Foreign_HW_ICAP_Module::STATUS
                       ? (m_foreign_done ? 1u : 0u)
                       : 0u;
        if (address == UART_BASE + UART_Module::RX_FIFO) {
            if (m_uart_rx.empty())
                return 0;
            const uint8_t byte = m_uart_rx.front();
            m_uart_rx.pop_front();
            return byte;
        }
        if (address == UART_BASE + UART_Module::STATUS)
            return UART_Module::STATUS_TX_EMPTY | (m_uart_rx.empty() ? 0u : UART_Module::STATUS_RX_VALID);
        return 0;
    }
    if (address >= OKELLY_BASE && address < OKELLY_END)
        return read_okelly(address);
    if (address >= HW_ICAP_BASE && address < HW_ICAP_END) {
        if (address == HW_ICAP_BASE + HW_ICAP_Module::STATUS)
            return m_hw_icap_done ? 1u : 0u;
        if (address == HW_ICAP_BASE + HW_ICAP_Module::CONTROL) {
            if (m_hw_icap_busy)
                return 1;
            if (m_hw_icap_boot_pending) {
                m_hw_icap_boot_pending = false;
                warm_boot(m_hw_icap_wbstar);
            }
            return 0;
        }
        return 0;
    }
    if (address >= SPI_BASE && address < SPI_END)
        return m_spi.read(address - SPI_BASE);
    const auto found = m_plain_registers.find(address);
    return found == m_plain_registers.end() ? 0 : found->second;
}

// Bridge messages: 0x79, device (bit 0 = read), register, count, and for a write the value.
void MURA_Box_Model::write_uart_byte(uint8_t byte) {
    m_uart_tx.push_back(byte);
    if (m_uart_tx.front() != 0x79) {
        m_uart_tx.clear(); // the bridge waits for a message start
        return;
    }
    const bool is_read = m_uart_tx.size() > 1 && (m_uart_tx[1] & 1);
    const size_t message_length = is_read ? 4 : 5;
    if (m_uart_tx.size() < message_length)
        return;
    const uint8_t device = static_cast<uint8_t>(m_uart_tx[1] & 0xFE);
    const uint8_t reg = m_uart_tx[2];
    const uint8_t count = m_uart_tx[3];
    const uint8_t value = is_read ? 0 : m_uart_tx[4];
    m_uart_tx.clear();
    Headstage_Model& headstage = m_headstages[(m_control_word >> 4) & 0x3];
    const auto answer = is_read ? headstage.read(device, reg, count) : headstage.write(device, reg, value);
    if (answer)
        m_uart_rx.insert(m_uart_rx.end(), answer->begin(), answer->end());
}

void MURA_Box_Model::write_foreign_icap(uint32_t offset, uint32_t value) {
    switch (offset) {
    case Foreign_HW_ICAP_Module::REGISTER_NUMBER:
        m_foreign_register_number = value;
        return;
    case Foreign_HW_ICAP_Module::DATA:
        m_foreign_data = value;
        return;
    case Foreign_HW_ICAP_Module::GO:
        break;
    default:
        return;
    }
    const bool rising = value == 1 && m_foreign_go == 0;
    m_foreign_go = value;
    if (!rising) {
        if (value == 0)
            m_foreign_done = false;
        return;
    }
    if (m_faults.foreign_icap_never_done)
        return;
    m_foreign_done = true;
    if (m_foreign_register_number == Foreign_HW_ICAP_Module::WBSTAR)
        m_foreign_wbstar = m_foreign_data;
    else if (m_foreign_register_number == Foreign_HW_ICAP_Module::CMD && m_foreign_data == CMD_IPROG)
        warm_boot(m_foreign_wbstar);
}

void MURA_Box_Model::write_hw_icap(uint32_t offset, uint32_t value) {
    if (offset == HW_ICAP_Module::WRITE_FIFO) {
        m_hw_icap_fifo.push_back(value);
        m_hw_icap_words.push_back(value);
        return;
    }
    if (offset != HW_ICAP_Module::CONTROL || !(value & 1))
        return;
    // Start: the FIFO contents go into the configuration logic.
    m_hw_icap_done = !m_faults.hw_icap_never_done;
    m_hw_icap_busy = m_faults.hw_icap_control_stuck;
    std::vector<uint32_t> packet;
    packet.swap(m_hw_icap_fifo);
    uint32_t wbstar = 0;
    bool iprog = false;
    for (size_t i = 0; i + 1 < packet.size(); ++i) {
        if (packet[i] == WRITE_WBSTAR)
            wbstar = reverse_bytes(packet[i + 1]);
        else if (packet[i] == WRITE_CMD && packet[i + 1] == CMD_IPROG)
            iprog = true;
    }
    if (iprog && m_hw_icap_done) {
        m_hw_icap_boot_pending = true;
        m_hw_icap_wbstar = wbstar;
    }
}

void MURA_Box_Model::write_okelly(uint32_t address, uint32_t value) {
    if (address == okelly_address(Okelly_Adapter_Module::TRIGGER_CONFIG) && (value & 1))
        m_rhd_pll_programmed = true;
    m_plain_registers[address] = value;
}

uint32_t MURA_Box_Model::read_okelly(uint32_t address) const {
    if (address == okelly_address(Okelly_Adapter_Module::EP_PLL_STATUS))
        return m_faults.rhd_pll_never_locks ? 0 : Okelly_Adapter_Module::PLL_LOCKED;
    if (address == okelly_address(Okelly_Adapter_Module::EP_TTL_IN))
        return m_rhd_ttl_in;
    const auto found = m_plain_registers.find(address);
    return found == m_plain_registers.end() ? 0 : found->second;
}

// The FPGA reconfigures from flash: the PCIe link drops until the driver is reopened, and
// the new design starts with a cleared control word. An address without a design leaves the
// current one running, as the fallback image would.
void MURA_Box_Model::warm_boot(uint32_t flash_address) {
    ++m_boot_count;
    const auto design = m_flash_designs.find(flash_address);
    if (design != m_flash_designs.end())
        m_signature = design->second;
    m_control_word = 0;
    m_foreign_done = false;
    m_foreign_go = 0;
    m_link_down = true;
}

bool MURA_Box_Model::is_open() const {
    std::lock_guard lock(m_mutex);
    return m_open;
}

uint32_t MURA_Box_Model::open_count() const {
    std::lock_guard lock(m_mutex);
    return m_open_count;
}

uint32_t MURA_Box_Model::close_count() const {
    std::lock_guard lock(m_mutex);
    return m_close_count;
}

uint32_t MURA_Box_Model::boot_count() const {
    std::lock_guard lock(m_mutex);
    return m_boot_count;
}

uint32_t MURA_Box_Model::signature() const {
    std::lock_guard lock(m_mutex);
    return m_signature;
}

uint32_t MURA_Box_Model::control_word() const {
    std::lock_guard lock(m_mutex);
    return m_control_word;
}

uint32_t MURA_Box_Model::accesses_while_closed() const {
    std::lock_guard lock(m_mutex);
    return m_accesses_while_closed;
}

std::vector<Register_Access> MURA_Box_Model::register_writes() const {
    std::lock_guard lock(m_mutex);
    return m_writes;
}

std::vector<Register_Access> MURA_Box_Model::register_writes_from(uint32_t first, uint32_t last) const {
    std::lock_guard lock(m_mutex);
    std::vector<Register_Access> selected;
    for (const auto& access : m_writes) {
        if (access.address >= first && access.address <= last)
            selected.push_back(access);
    }
    return selected;
}

std::vector<uint32_t> MURA_Box_Model::register_reads() const {
    std::lock_guard lock(m_mutex);
    return m_reads;
}

void MURA_Box_Model::clear_access_logs() {
    std::lock_guard lock(m_mutex);
    m_writes.clear();
    m_reads.clear();
}

std::vector<uint32_t> MURA_Box_Model::hw_icap_words() const {
    std::lock_guard lock(m_mutex);
    return m_hw_icap_words;
}

} // namespace Selvan::MURA::box_model
