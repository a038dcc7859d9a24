#include "NOR_Flash_Model.h"

#include <algorithm>
#include <stdexcept>

namespace Selvan::MURA::box_model {
namespace {

constexpr uint8_t CMD_READ_IDENTIFICATION = 0x9F;
constexpr uint8_t CMD_WRITE_ENABLE = 0x06;
constexpr uint8_t CMD_WRITE_DISABLE = 0x04;
constexpr uint8_t CMD_READ_STATUS_REGISTER = 0x05;
constexpr uint8_t CMD_READ_FLAG_STATUS_REGISTER = 0x70;
constexpr uint8_t CMD_BULK_ERASE = 0xC7;
constexpr uint8_t CMD_SECTOR_ERASE = 0xD8;
constexpr uint8_t CMD_PAGE_PROGRAM = 0x02;
constexpr uint8_t CMD_READ_DATA = 0x03;

constexpr uint32_t ADDRESS_BYTES = 3;
constexpr uint32_t FIRST_DATA_INDEX = 1 + ADDRESS_BYTES;

bool is_status_read(uint8_t opcode) {
    return opcode == CMD_READ_STATUS_REGISTER || opcode == CMD_READ_FLAG_STATUS_REGISTER;
}

void check_range(uint32_t address, uint64_t length) {
    if (address + length > NOR_Flash_Model::SIZE)
        throw std::out_of_range("flash range beyond 16 MiB");
}

} // namespace

// Works sector by sector: saving or loading the whole flash must stay quick.
void NOR_Flash_Model::fill(uint32_t address, const std::vector<uint8_t>& bytes) {
    check_range(address, bytes.size());
    size_t done = 0;
    while (done < bytes.size()) {
        const uint32_t at = address + static_cast<uint32_t>(done);
        const size_t count = std::min<size_t>(SECTOR_SIZE - at % SECTOR_SIZE, bytes.size() - done);
        const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(done);
        const bool all_erased = std::all_of(first, first + static_cast<std::ptrdiff_t>(count),
                                            [](uint8_t byte) { return byte == UNDRIVEN; });
        if (!all_erased || m_sectors.count(at / SECTOR_SIZE))
            std::copy(first, first + static_cast<std::ptrdiff_t>(count), writable_byte(at));
        done += count;
    }
}

std::vector<uint8_t> NOR_Flash_Model::contents(uint32_t address, uint32_t length) const {
    check_range(address, length);
    std::vector<uint8_t> bytes(length, UNDRIVEN);
    uint32_t done = 0;
    while (done < length) {
        const uint32_t at = address + done;
        const uint32_t count = std::min(SECTOR_SIZE - at % SECTOR_SIZE, length - done);
        const auto sector = m_sectors.find(at / SECTOR_SIZE);
        if (sector != m_sectors.end()) {
            const auto first = sector->second.begin() + at % SECTOR_SIZE;
            std::copy(first, first + count, bytes.begin() + done);
        }
        done += count;
    }
    return bytes;
}

void NOR_Flash_Model::select() {
    m_selected = true;
    m_busy_at_start = busy();
    m_opcode = 0;
    m_bytes_received = 0;
    m_address = 0;
    m_page_data_count = 0;
    m_page_buffer.fill(UNDRIVEN);
}

uint8_t NOR_Flash_Model::exchange(uint8_t byte_in) {
    if (!m_selected)
        return UNDRIVEN;
    const uint32_t index = m_bytes_received++;
    if (index == 0) {
        m_opcode = byte_in;
        return UNDRIVEN;
    }
    if (m_busy_at_start && !is_status_read(m_opcode))
        return UNDRIVEN;
    return answer(byte_in, index);
}

void NOR_Flash_Model::deselect() {
    if (!m_selected)
        return;
    m_selected = false;
    if (m_bytes_received > 0)
        execute_command();
}

uint8_t NOR_Flash_Model::answer(uint8_t byte_in, uint32_t index) {
    switch (m_opcode) {
    case CMD_READ_IDENTIFICATION:
        return index <= IDENTIFICATION.size() ? IDENTIFICATION[index - 1] : 0x00;
    case CMD_READ_STATUS_REGISTER:
        return poll_status();
    case CMD_READ_FLAG_STATUS_REGISTER:
        return busy() ? 0x00 : FLAG_STATUS_READY;
    case CMD_READ_DATA:
        if (index < FIRST_DATA_INDEX) {
            collect_address_byte(byte_in, index);
            m_read_address = m_address;
            return UNDRIVEN;
        }
        return byte_at(m_read_address++ % SIZE);
    case CMD_SECTOR_ERASE:
        collect_address_byte(byte_in, index);
        return UNDRIVEN;
    case CMD_PAGE_PROGRAM:
        if (index < FIRST_DATA_INDEX)
            collect_address_byte(byte_in, index);
        else
            take_page_data(byte_in);
        return UNDRIVEN;
    default:
        return UNDRIVEN;
    }
}

// Every status byte clocked out is one poll of the busy time.
uint8_t NOR_Flash_Model::poll_status() {
    const uint8_t status =
        static_cast<uint8_t>((busy() ? STATUS_BUSY : 0) | (m_write_enable_latch ? STATUS_WRITE_ENABLED : 0));
    if (m_busy_polls_left > 0 && --m_busy_polls_left == 0 && !m_stuck)
        m_write_enable_latch = false;
    return status;
}

void NOR_Flash_Model::collect_address_byte(uint8_t byte_in, uint32_t index) {
    if (index < FIRST_DATA_INDEX)
        m_address = (m_address << 8) | byte_in;
}

// The page latch: data wraps to the start of the page, later bytes replace earlier ones.
void NOR_Flash_Model::take_page_data(uint8_t byte_in) {
    const uint32_t offset = (m_address + m_page_data_count) % PAGE_SIZE;
    m_page_buffer[offset] = byte_in;
    ++m_page_data_count;
}

void NOR_Flash_Model::execute_command() {
    if (m_busy_at_start && !is_status_read(m_opcode)) {
        ++m_refused_commands;
        return;
    }
    switch (m_opcode) {
    case CMD_WRITE_ENABLE:
        if (m_bytes_received == 1)
            m_write_enable_latch = true;
        return;
    case CMD_WRITE_DISABLE:
        if (m_bytes_received == 1)
            m_write_enable_latch = false;
        return;
    case CMD_BULK_ERASE:
        if (!accept_writing_command(m_bytes_received == 1))
            return;
        m_sectors.clear();
        m_operations.push_back({Operation_Kind::bulk_erase, 0, SIZE});
        start_operation(busy_polls.bulk_erase);
        return;
    case CMD_SECTOR_ERASE:
        if (!accept_writing_command(m_bytes_received == FIRST_DATA_INDEX))
            return;
        erase_sector(m_address);
        start_operation(busy_polls.sector_erase);
        return;
    case CMD_PAGE_PROGRAM:
        if (!accept_writing_command(m_bytes_received > FIRST_DATA_INDEX))
            return;
        program_page();
        start_operation(busy_polls.page_program);
        return;
    default:
        return;
    }
}

// A writing command runs only with the write enable latch set and exactly the bytes it needs.
bool NOR_Flash_Model::accept_writing_command(bool complete) {
    if (m_write_enable_latch && complete)
        return true;
    ++m_refused_commands;
    return false;
}

void NOR_Flash_Model::start_operation(uint32_t polls) {
    if (never_ready) {
        m_stuck = true;
        return;
    }
    m_busy_polls_left = polls;
    if (polls == 0)
        m_write_enable_latch = false;
}

void NOR_Flash_Model::erase_sector(uint32_t address) {
    const uint32_t sector = (address % SIZE) / SECTOR_SIZE;
    m_sectors.erase(sector);
    m_operations.push_back({Operation_Kind::sector_erase, sector * SECTOR_SIZE, SECTOR_SIZE});
}

void NOR_Flash_Model::program_page() {
    const uint32_t page_start = (m_address % SIZE) / PAGE_SIZE * PAGE_SIZE;
    for (uint32_t offset = 0; offset < PAGE_SIZE; ++offset) {
        if (m_page_buffer[offset] != UNDRIVEN)
            *writable_byte(page_start + offset) &= m_page_buffer[offset];
    }
    m_operations.push_back(
        {Operation_Kind::page_program, m_address % SIZE, std::min(m_page_data_count, PAGE_SIZE)});
}

uint8_t NOR_Flash_Model::byte_at(uint32_t address) const {
    const auto sector = m_sectors.find(address / SECTOR_SIZE);
    return sector == m_sectors.end() ? UNDRIVEN : sector->second[address % SECTOR_SIZE];
}

uint8_t* NOR_Flash_Model::writable_byte(uint32_t address) {
    auto& sector = m_sectors[address / SECTOR_SIZE];
    if (sector.empty())
        sector.assign(SECTOR_SIZE, UNDRIVEN);
    return &sector[address % SECTOR_SIZE];
}

} // namespace Selvan::MURA::box_model
