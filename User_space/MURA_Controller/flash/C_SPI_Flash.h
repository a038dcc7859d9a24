#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <sstream>

namespace Selvan::MURA {

class SPI_Module;

// The stages of a long flash operation, for progress reports.
enum class Flash_Phase { erase, program, read };

// Tells how far a phase has come: `done` of `total` bytes erased, programmed or read.
using Flash_Progress = std::function<void(Flash_Phase phase, uint32_t done, uint32_t total)>;

// Drives the FPGA's serial NOR configuration flash through the SPI master with standard
// commands: erases sectors or the whole chip, programs images page by page, reads contents back
// and polls the busy state. A short-lived value object: create one per operation.
class SPI_Flash {
public:
    static constexpr uint8_t CMD_READ_IDENTIFICATION = 0x9F;
    static constexpr uint8_t CMD_WRITE_ENABLE = 0x06;
    static constexpr uint8_t CMD_READ_STATUS_REGISTER = 0x05;
    static constexpr uint8_t CMD_READ_FLAG_STATUS_REGISTER = 0x70;
    static constexpr uint8_t CMD_BULK_ERASE = 0xC7;
    static constexpr uint8_t CMD_SECTOR_ERASE = 0xD8;
    static constexpr uint8_t CMD_PAGE_PROGRAM = 0x02;
    static constexpr uint8_t CMD_READ_DATA = 0x03;
    static constexpr uint8_t STATUS_WRITE_IN_PROGRESS = 1u << 0;
    // Clocked out to receive data.
    static constexpr uint8_t DUMMY_BYTE = 0x01;

    static constexpr uint32_t PAGE_SIZE = 256;
    // Data bytes per transfer: one transmit FIFO's worth.
    static constexpr uint32_t CHUNK_SIZE = 16;
    static constexpr uint32_t SECTOR_SIZE = 0x10000;
    static constexpr uint32_t FLASH_SIZE = 0x1000000;
    // The hardware information record lives in the last sector, which images must leave alone.
    static constexpr uint32_t HW_INFO_ADDRESS = 0xFF0000;
    static constexpr uint32_t HW_INFO_SECTOR = HW_INFO_ADDRESS;
    static constexpr uint32_t READY_POLL_LIMIT = 480;
    static constexpr std::chrono::milliseconds SLOW_READY_POLL_PAUSE{1000};

    // `progress`, when given, hears about every erased sector, programmed page and read page.
    explicit SPI_Flash(SPI_Module* spi_module, Flash_Progress progress = {});

    // Programs the image file at `address` (a sector boundary), erasing the sectors it covers
    // first when `erase` is set (the whole chip when `bulk` is set as well). Refuses, before
    // touching the flash, a missing or empty file and a range that leaves the flash or reaches
    // the hardware information sector. Reports failures on the console and returns false.
    bool program_flash(const char* path, uint32_t address, bool erase, bool bulk);
    // Erases the whole chip, the hardware information record included.
    bool erase_flash();
    // Writes `length` bytes of flash from `address` (rounded down to 16 bytes) into the file.
    bool read_flash(const char* path, uint32_t length, uint32_t address = 0);

    // Programs length / 256 whole pages from the stream. A page is sent only once the stream
    // has delivered all of it; returns false (after a message) when the stream ends early.
    bool program_pages(std::istream& stream, uint32_t length, uint32_t address);
    // Appends length / 16 blocks of 16 bytes read from `address` to the stream.
    void read_pages(std::ostream& stream, uint32_t length, uint32_t address);
    void sector_erase(uint32_t count, uint32_t address);
    void bulk_erase();
    // Polls the status register until no write is in progress, at most 480 times, one second
    // apart when `slow`; throws "Flash erase/program timeout" when the flash stays busy.
    void wait_flash_to_become_ready(bool slow);

    void write_enable();
    uint8_t read_status_register();
    uint8_t read_flag_status_register();
    // Sends the identification command the first time a command runs on this object.
    void identify_once();

    // The file's size in bytes, or -1 (after "Dosya acilamaldi") when it cannot be opened.
    static std::streamoff get_file_size(const char* path);
    // The file's bytes followed by zeros up to the next multiple of 64 KiB; throws on read errors.
    static std::stringstream load_padded_image(const char* path);

private:
    void program_page(const uint8_t* page, uint32_t address);
    uint8_t read_register_command(uint8_t command);
    void send_command(uint8_t command);
    void send_command_with_address(uint8_t command, uint32_t address);
    void report(Flash_Phase phase, uint32_t done, uint32_t total) const;

    SPI_Module* m_spi_module;
    bool m_identified = false;
    Flash_Progress m_progress;
};

} // namespace Selvan::MURA
