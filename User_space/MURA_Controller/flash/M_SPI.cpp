#include "M_SPI.h"

#include "Console.h"

#include <stdexcept>

namespace Selvan::MURA {
namespace {

constexpr uint32_t TX_DRAIN_POLL_LIMIT = 50;
constexpr uint32_t RX_DRAIN_LIMIT = 20;

} // namespace

SPI_Module::SPI_Module(uint32_t base, I_MemMapped_AXI* bus)
    : A_Register_Module("SPI_Module ctor at base adr : ", base, bus) {}

void SPI_Module::set_slave_select(uint32_t value) const {
    write(SLAVE_SELECT, value);
}

uint32_t SPI_Module::read_status() const {
    return read(STATUS);
}

void SPI_Module::wait_tx_drained() {
    uint32_t failed_polls = 0;
    while (!(read_status() & STATUS_TX_EMPTY)) {
        ++failed_polls;
        if (failed_polls > m_tx_drain_high_water_mark)
            m_tx_drain_high_water_mark = failed_polls;
        if (failed_polls >= TX_DRAIN_POLL_LIMIT)
            throw std::runtime_error("Tx fifo should have been drained");
    }
}

void SPI_Module::drain_rx() const {
    uint32_t discarded = 0;
    while (!(read_status() & STATUS_RX_EMPTY)) {
        read(RX_DATA);
        ++discarded;
        if (discarded >= RX_DRAIN_LIMIT) {
            console::out("Number of extra reads : {}\n", discarded);
            throw std::runtime_error("Rx fifo should have been drained");
        }
    }
    if (discarded > 0)
        console::out("Number of extra reads : {}\n", discarded);
}

void SPI_Module::check_rx_emptied() const {
    if (!(read_status() & STATUS_RX_EMPTY))
        throw std::runtime_error("Rx fifo should be emptied");
}

void SPI_Module::transfer(const uint8_t* bytes, size_t count, uint8_t* received, Rx_Finish finish) {
    write(CONTROL, CONTROL_INHIBITED);
    for (size_t i = 0; i < count; ++i)
        write(TX_DATA, bytes[i]);
    write(CONTROL, CONTROL_RUN);
    wait_tx_drained();
    for (size_t i = 0; i < count; ++i) {
        const uint32_t word = read(RX_DATA);
        if (received)
            received[i] = static_cast<uint8_t>(word & 0xFF);
    }
    if (finish == Rx_Finish::drain)
        drain_rx();
    else
        check_rx_emptied();
}

} // namespace Selvan::MURA
