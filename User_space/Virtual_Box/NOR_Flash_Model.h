#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

namespace Selvan::MURA::box_model {

// The box's 16 MiB serial NOR configuration flash as its SPI pins see it: a command starts
// with the chip select, its bytes arrive one by one (each answered with the byte the flash
// drives back) and writing commands take effect when the chip select is released.
// Commands: read identification, write enable, read status and flag status register, bulk and
// sector erase (bytes become 0xFF), page program (only clears bits; data wraps within the page)
// and read. Erase and program need the write enable latch; while busy the flash answers only the
// status reads. Busy time is counted in status register polls, so the model never sleeps.
// Contents start erased. Not thread-safe: the box model serialises access.
class NOR_Flash_Model {
public:
    static constexpr uint32_t SIZE = 0x1000000;
    static constexpr uint32_t SECTOR_SIZE = 0x10000;
    static constexpr uint32_t PAGE_SIZE = 256;
    // Manufacturer, memory type and capacity (16 MiB) answered to the identification command.
    static constexpr std::array<uint8_t, 3> IDENTIFICATION = {0x20, 0xBA, 0x18};
    // What the master reads while the flash does not drive its output.
    static constexpr uint8_t UNDRIVEN = 0xFF;
    static constexpr uint8_t STATUS_BUSY = 1u << 0;
    static constexpr uint8_t STATUS_WRITE_ENABLED = 1u << 1;
    static constexpr uint8_t FLAG_STATUS_READY = 1u << 7;

    enum class Operation_Kind { sector_erase, bulk_erase, page_program };
    // An erase or program the flash carried out; for a page program, `length` data bytes.
    struct Operation {
        Operation_Kind kind;
        uint32_t address;
        uint32_t length;
        bool operator==(const Operation&) const = default;
    };

    // How many status register polls report busy after each kind of operation.
    struct Busy_Polls {
        uint32_t page_program = 0;
        uint32_t sector_erase = 0;
        uint32_t bulk_erase = 0;
    };

    // --- configuration ---
    Busy_Polls busy_polls;
    // Fault: an erase or program, once started, never finishes.
    bool never_ready = false;
    // Sets bytes directly, as a programmer in the factory would.
    void fill(uint32_t address, const std::vector<uint8_t>& bytes);

    // --- the SPI side ---
    void select();
    uint8_t exchange(uint8_t byte_in);
    void deselect();

    // --- observation ---
    std::vector<uint8_t> contents(uint32_t address, uint32_t length) const;
    const std::vector<Operation>& operations() const { return m_operations; }
    // Commands refused: erase and program without write enable or with the wrong byte count,
    // and every command but the status reads while busy.
    uint32_t refused_commands() const { return m_refused_commands; }
    bool busy() const { return m_stuck || m_busy_polls_left > 0; }
    bool write_enabled() const { return m_write_enable_latch; }
    bool selected() const { return m_selected; }

private:
    uint8_t byte_at(uint32_t address) const;
    uint8_t* writable_byte(uint32_t address);
    uint8_t answer(uint8_t byte_in, uint32_t index);
    uint8_t poll_status();
    void collect_address_byte(uint8_t byte_in, uint32_t index);
    void take_page_data(uint8_t byte_in);
    void execute_command();
    bool accept_writing_command(bool complete);
    void start_operation(uint32_t polls);
    void erase_sector(uint32_t address);
    void program_page();

    // Sector index -> 64 KiB of contents; an absent sector is erased.
    std::map<uint32_t, std::vector<uint8_t>> m_sectors;
    std::vector<Operation> m_operations;
    uint32_t m_refused_commands = 0;
    bool m_write_enable_latch = false;
    uint32_t m_busy_polls_left = 0;
    bool m_stuck = false;

    // The command in progress.
    bool m_selected = false;
    bool m_busy_at_start = false;
    uint8_t m_opcode = 0;
    uint32_t m_bytes_received = 0;
    uint32_t m_address = 0;
    uint32_t m_read_address = 0;
    uint32_t m_page_data_count = 0;
    std::array<uint8_t, PAGE_SIZE> m_page_buffer{};
};

} // namespace Selvan::MURA::box_model
