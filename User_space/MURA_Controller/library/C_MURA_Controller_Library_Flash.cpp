// The controller library's configuration-flash operations: the hardware information record and
// the programming of FPGA images.

#include "A_MURA_Controller.h"
#include "C_MURA_Controller_Library.h"
#include "C_SPI_Flash.h"
#include "Log.h"
#include "M_SPI.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>

namespace Selvan::MURA {
namespace {

MURA_HW_Info read_record(SPI_Flash& flash) {
    std::stringstream page;
    flash.read_pages(page, SPI_Flash::PAGE_SIZE, SPI_Flash::HW_INFO_ADDRESS);
    const std::string bytes = page.str();
    MURA_HW_Info info;
    std::memcpy(info.bytes.data(), bytes.data(), std::min(bytes.size(), info.bytes.size()));
    return info;
}

// The record followed by erased bytes, so that the rest of the page stays as an erase left it.
std::stringstream record_page(const MURA_HW_Info& info) {
    std::string page(SPI_Flash::PAGE_SIZE, '\xFF');
    std::memcpy(page.data(), info.bytes.data(), info.bytes.size());
    return std::stringstream(std::move(page));
}

} // namespace

std::unique_ptr<MURA_HW_Info> MURA_Controller_Library::read_MURA_HW_info() {
    SPI_Flash flash(m_controller->modules().spi.get());
    return std::make_unique<MURA_HW_Info>(read_record(flash));
}

bool MURA_Controller_Library::program_MURA_HW_info(const MURA_HW_Info& info) {
    SPI_Flash flash(m_controller->modules().spi.get());
    std::stringstream page = record_page(info);
    flash.program_pages(page, SPI_Flash::PAGE_SIZE, SPI_Flash::HW_INFO_ADDRESS);
    if (read_record(flash) == info)
        return true;
    logging::error("MURA_HW_Info read back differs from the record programmed at 0x%06x; the flash only "
                   "clears bits, so the record's sector must be erased before it is written again",
                   SPI_Flash::HW_INFO_ADDRESS);
    return false;
}

bool MURA_Controller_Library::program_flash(const char* image_path, uint32_t flash_address,
                                            const Flash_Progress& progress) {
    SPI_Flash flash(m_controller->modules().spi.get(), progress);
    return flash.program_flash(image_path, flash_address, true, false);
}

} // namespace Selvan::MURA
