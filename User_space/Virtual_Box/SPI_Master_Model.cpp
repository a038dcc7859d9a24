#include "SPI_Master_Model.h"

#include "M_SPI.h"

namespace Selvan::MURA::box_model {

void SPI_Master_Model::write(uint32_t offset, uint32_t value) {
    switch (offset) {
    case SPI_Module::CONTROL:
        write_control(value);
        return;
    case SPI_Module::TX_DATA:
        if (m_tx.size() >= FIFO_DEPTH) {
            ++m_tx_overflows;
            return;
        }
        m_tx.push_back(static_cast<uint8_t>(value & 0xFF));
        run_transfers();
        return;
    case SPI_Module::SLAVE_SELECT:
        write_slave_select(value);
        return;
    default:
        return;
    }
}

uint32_t SPI_Master_Model::read(uint32_t offset) {
    switch (offset) {
    case SPI_Module::CONTROL:
        return m_control;
    case SPI_Module::STATUS:
        return status();
    case SPI_Module::RX_DATA:
        return pop_rx();
    case SPI_Module::SLAVE_SELECT:
        return m_slave_select;
    default:
        return 0;
    }
}

// The FIFO reset bits act once and do not stay set.
void SPI_Master_Model::write_control(uint32_t value) {
    if (value & CONTROL_TX_FIFO_RESET)
        m_tx.clear();
    if (value & CONTROL_RX_FIFO_RESET)
        m_rx.clear();
    m_control = value & ~(CONTROL_TX_FIFO_RESET | CONTROL_RX_FIFO_RESET);
    run_transfers();
}

void SPI_Master_Model::write_slave_select(uint32_t value) {
    const bool was_selected = flash_selected();
    m_slave_select = value;
    if (!was_selected && flash_selected())
        m_flash.select();
    else if (was_selected && !flash_selected())
        m_flash.deselect();
}

bool SPI_Master_Model::transfers_may_run() const {
    return (m_control & CONTROL_ENABLE) && (m_control & CONTROL_MASTER) && !(m_control & CONTROL_INHIBIT) &&
           !faults.tx_never_drains;
}

void SPI_Master_Model::run_transfers() {
    if (!transfers_may_run() || m_tx.empty())
        return;
    while (!m_tx.empty()) {
        const uint8_t byte_out = m_tx.front();
        m_tx.pop_front();
        push_rx(flash_selected() ? m_flash.exchange(byte_out) : NOR_Flash_Model::UNDRIVEN);
    }
    for (uint32_t i = 0; i < faults.stray_rx_words; ++i)
        push_rx(0x00);
}

void SPI_Master_Model::push_rx(uint8_t byte) {
    if (m_rx.size() >= FIFO_DEPTH) {
        ++m_rx_overflows;
        return;
    }
    m_rx.push_back(byte);
}

uint32_t SPI_Master_Model::status() const {
    uint32_t word = 0;
    if (m_rx.empty())
        word |= SPI_Module::STATUS_RX_EMPTY;
    if (m_rx.size() >= FIFO_DEPTH)
        word |= STATUS_RX_FULL;
    if (m_tx.empty())
        word |= SPI_Module::STATUS_TX_EMPTY;
    if (m_tx.size() >= FIFO_DEPTH)
        word |= STATUS_TX_FULL;
    return word;
}

// Reading an empty receive FIFO answers 0 and is counted: the library must never do it.
uint32_t SPI_Master_Model::pop_rx() {
    if (m_rx.empty()) {
        ++m_rx_underflows;
        return 0;
    }
    const uint8_t byte = m_rx.front();
    m_rx.pop_front();
    return byte;
}

} // namespace Selvan::MURA::box_model
