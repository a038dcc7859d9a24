#include "C_SPI_Flash.h"

#include "Console.h"
#include "M_SPI.h"
#include "Pause.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace Selvan::MURA {
namespace {

using Rx_Finish = SPI_Module::Rx_Finish;

// Keeps the flash selected for one command and releases it on every way out: a flash left
// selected after a FIFO error would take the next command's bytes as part of this one.
class Slave_Selection {
public:
    explicit Slave_Selection(SPI_Module& spi)
        : m_spi(spi) {
        m_spi.set_slave_select(SPI_Module::SLAVE_SELECTED);
    }
    ~Slave_Selection() {
        if (m_selected) {
            try {
                release();
            } catch (...) {
                // Already unwinding from the error that matters.
            }
        }
    }
    Slave_Selection(const Slave_Selection&) = delete;
    Slave_Selection& operator=(const Slave_Selection&) = delete;

    void release() {
        m_selected = false;
        m_spi.set_slave_select(SPI_Module::SLAVE_RELEASED);
    }

private:
    SPI_Module& m_spi;
    bool m_selected = true;
};

uint64_t round_up_to_sectors(uint64_t size) {
    return (size + SPI_Flash::SECTOR_SIZE - 1) / SPI_Flash::SECTOR_SIZE * SPI_Flash::SECTOR_SIZE;
}

// An image must start on a sector boundary, fit into the flash and keep out of the hardware
// information sector; otherwise the erase would destroy what it was never meant to touch.
bool image_range_is_allowed(uint64_t size, uint32_t address) {
    if (size == 0) {
        console::err("Image file is empty, nothing to program\n");
        return false;
    }
    if (address % SPI_Flash::SECTOR_SIZE != 0) {
        console::err("Flash address 0x{:06x} is not at a 64 KiB sector boundary\n", address);
        return false;
    }
    const uint64_t end = uint64_t{address} + round_up_to_sectors(size);
    if (end > SPI_Flash::FLASH_SIZE) {
        console::err("Image of {} bytes at 0x{:06x} runs past the end of the 16 MiB flash\n", size, address);
        return false;
    }
    if (end > SPI_Flash::HW_INFO_SECTOR) {
        console::err("Image of {} bytes at 0x{:06x} reaches the hardware information sector at 0x{:06x}\n",
                     size, address, SPI_Flash::HW_INFO_SECTOR);
        return false;
    }
    return true;
}

bool read_range_is_allowed(uint32_t length, uint32_t address) {
    if (uint64_t{address} + length <= SPI_Flash::FLASH_SIZE)
        return true;
    console::err("Reading {} bytes at 0x{:06x} runs past the end of the 16 MiB flash\n", length, address);
    return false;
}

} // namespace

SPI_Flash::SPI_Flash(SPI_Module* spi_module, Flash_Progress progress)
    : m_spi_module(spi_module)
    , m_progress(std::move(progress)) {}

bool SPI_Flash::program_flash(const char* path, uint32_t address, bool erase, bool bulk) {
    try {
        const std::streamoff size = get_file_size(path);
        if (size < 0) {
            console::err("File coundn't be opened\n");
            return false;
        }
        if (!image_range_is_allowed(static_cast<uint64_t>(size), address))
            return false;
        const auto sectors =
            static_cast<uint32_t>(round_up_to_sectors(static_cast<uint64_t>(size)) / SECTOR_SIZE);
        // Loaded before the erase, so that an unreadable file never leaves the flash erased.
        std::stringstream image = load_padded_image(path);
        if (erase && bulk) {
            console::out("Ereasing flash (Bulk Erase) this will take some minutes\n");
            bulk_erase();
        } else if (erase) {
            console::out("Ereasing flash (Sector Erase)\n");
            sector_erase(sectors, address);
        }
        console::out("Programming flash..\n");
        if (!program_pages(image, sectors * SECTOR_SIZE, address))
            return false;
        console::out("Program flash completed\n");
        return true;
    } catch (const std::exception& e) {
        console::out("Exception catched during program_flash command : {}\n", e.what());
        return false;
    }
}

bool SPI_Flash::erase_flash() {
    try {
        console::out("Ereasing flash (Bulk Erase) this will take some minutes\n");
        bulk_erase();
        console::out("Erase flash completed\n");
        return true;
    } catch (const std::exception& e) {
        console::out("Exception catched during erase_flash command : {}\n", e.what());
        return false;
    }
}

bool SPI_Flash::read_flash(const char* path, uint32_t length, uint32_t address) {
    try {
        if (!read_range_is_allowed(length, address))
            return false;
        console::out("Reading flash..\n");
        std::ofstream file;
        if (path)
            file.open(path, std::ios::binary | std::ios::trunc);
        if (!file.is_open()) {
            console::err("File coundn't be opened\n");
            return false;
        }
        read_pages(file, length, address);
        file.close();
        if (!file) {
            console::err("Writing the flash contents to the file failed\n");
            return false;
        }
        console::out("Reading flash completed\n");
        return true;
    } catch (const std::exception& e) {
        console::out("Exception catched during read_flash command : {}\n", e.what());
        return false;
    }
}

bool SPI_Flash::program_pages(std::istream& stream, uint32_t length, uint32_t address) {
    identify_once();
    const uint32_t pages = length / PAGE_SIZE;
    std::array<uint8_t, PAGE_SIZE> page{};
    for (uint32_t i = 0; i < pages; ++i) {
        if (!stream.read(reinterpret_cast<char*>(page.data()), PAGE_SIZE)) {
            console::err("End of stream reached during program\n");
            return false;
        }
        program_page(page.data(), address);
        address += PAGE_SIZE;
        report(Flash_Phase::program, (i + 1) * PAGE_SIZE, pages * PAGE_SIZE);
    }
    return true;
}

void SPI_Flash::program_page(const uint8_t* page, uint32_t address) {
    write_enable();
    Slave_Selection selection(*m_spi_module);
    send_command_with_address(CMD_PAGE_PROGRAM, address);
    for (uint32_t offset = 0; offset < PAGE_SIZE; offset += CHUNK_SIZE)
        m_spi_module->transfer(page + offset, CHUNK_SIZE, nullptr, Rx_Finish::drain);
    selection.release();
    wait_flash_to_become_ready(false);
}

void SPI_Flash::read_pages(std::ostream& stream, uint32_t length, uint32_t address) {
    identify_once();
    Slave_Selection selection(*m_spi_module);
    send_command_with_address(CMD_READ_DATA, address);
    std::array<uint8_t, CHUNK_SIZE> dummies;
    dummies.fill(DUMMY_BYTE);
    std::array<uint8_t, CHUNK_SIZE> received{};
    const uint32_t blocks = length / CHUNK_SIZE;
    const uint32_t blocks_per_page = PAGE_SIZE / CHUNK_SIZE;
    for (uint32_t i = 0; i < blocks; ++i) {
        m_spi_module->transfer(dummies.data(), CHUNK_SIZE, received.data(), Rx_Finish::check);
        stream.write(reinterpret_cast<const char*>(received.data()), CHUNK_SIZE);
        if ((i + 1) % blocks_per_page == 0 || i + 1 == blocks)
            report(Flash_Phase::read, (i + 1) * CHUNK_SIZE, blocks * CHUNK_SIZE);
    }
    selection.release();
}

void SPI_Flash::sector_erase(uint32_t count, uint32_t address) {
    identify_once();
    wait_flash_to_become_ready(false);
    for (uint32_t i = 0; i < count; ++i) {
        console::out("Ereasing sector adr {:x}\n", address);
        write_enable();
        Slave_Selection selection(*m_spi_module);
        send_command_with_address(CMD_SECTOR_ERASE, address);
        selection.release();
        wait_flash_to_become_ready(true);
        address += SECTOR_SIZE;
        report(Flash_Phase::erase, (i + 1) * SECTOR_SIZE, count * SECTOR_SIZE);
    }
}

void SPI_Flash::bulk_erase() {
    identify_once();
    wait_flash_to_become_ready(false);
    write_enable();
    send_command(CMD_BULK_ERASE);
    wait_flash_to_become_ready(true);
}

void SPI_Flash::wait_flash_to_become_ready(bool slow) {
    uint32_t busy_polls = 0;
    while (busy_polls < READY_POLL_LIMIT && (read_status_register() & STATUS_WRITE_IN_PROGRESS)) {
        if (slow)
            pause_for(SLOW_READY_POLL_PAUSE);
        console::out(".");
        ++busy_polls;
    }
    console::out("wait_flash_to_become_ready counter : {}\n", busy_polls);
    if (busy_polls >= READY_POLL_LIMIT)
        throw std::runtime_error("Flash erase/program timeout");
    console::out("flash_flag_status_register : 0x{:02x}\n", read_flag_status_register());
}

void SPI_Flash::write_enable() {
    identify_once();
    send_command(CMD_WRITE_ENABLE);
}

uint8_t SPI_Flash::read_status_register() {
    return read_register_command(CMD_READ_STATUS_REGISTER);
}

uint8_t SPI_Flash::read_flag_status_register() {
    return read_register_command(CMD_READ_FLAG_STATUS_REGISTER);
}

void SPI_Flash::identify_once() {
    if (m_identified)
        return;
    const uint8_t command = CMD_READ_IDENTIFICATION;
    m_spi_module->transfer(&command, 1, nullptr, Rx_Finish::drain);
    m_identified = true;
}

std::streamoff SPI_Flash::get_file_size(const char* path) {
    std::error_code ignored;
    std::ifstream file;
    if (path && !std::filesystem::is_directory(path, ignored))
        file.open(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = file.is_open() ? std::streamoff(file.tellg()) : -1;
    if (size < 0) {
        console::out("Dosya acilamaldi\n");
        return -1;
    }
    // The size in KB is printed the way a stream prints a double (six significant digits).
    std::ostringstream line;
    line << "File size : " << static_cast<double>(size) / 1024 << " KB\n";
    console::out(std::string_view(line.str()));
    return size;
}

std::stringstream SPI_Flash::load_padded_image(const char* path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file.is_open())
        throw std::runtime_error("Image file could not be opened");
    const std::streamoff size = file.tellg();
    if (size < 0 || !file.seekg(0))
        throw std::runtime_error("Image file could not be read");
    std::string bytes(static_cast<size_t>(size), '\0');
    if (!file.read(bytes.data(), size) || file.gcount() != size)
        throw std::runtime_error("Image file could not be read");
    bytes.resize(static_cast<size_t>(round_up_to_sectors(static_cast<uint64_t>(size))), '\0');
    return std::stringstream(std::move(bytes));
}

uint8_t SPI_Flash::read_register_command(uint8_t command) {
    identify_once();
    Slave_Selection selection(*m_spi_module);
    m_spi_module->transfer(&command, 1, nullptr, Rx_Finish::drain);
    const uint8_t dummy = DUMMY_BYTE;
    uint8_t value = 0;
    m_spi_module->transfer(&dummy, 1, &value, Rx_Finish::check);
    selection.release();
    return value;
}

void SPI_Flash::send_command(uint8_t command) {
    Slave_Selection selection(*m_spi_module);
    m_spi_module->transfer(&command, 1, nullptr, Rx_Finish::drain);
    selection.release();
}

void SPI_Flash::send_command_with_address(uint8_t command, uint32_t address) {
    const std::array<uint8_t, 4> bytes = {command, static_cast<uint8_t>(address >> 16),
                                          static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    m_spi_module->transfer(bytes.data(), bytes.size(), nullptr, Rx_Finish::drain);
}

void SPI_Flash::report(Flash_Phase phase, uint32_t done, uint32_t total) const {
    if (m_progress)
        m_progress(phase, done, total);
}

} // namespace Selvan::MURA
