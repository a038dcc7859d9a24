#include "M_I2C_Over_GSML.h"

#include "Console.h"
#include "Log.h"
#include "M_UART.h"

#include <stdexcept>

namespace Selvan::MURA {

I2C_Over_GSML_Module::I2C_Over_GSML_Module(UART_Module* uart)
    : m_uart(uart) {
    MURA_LOG_SCOPE(1, "I2C_Over_GSML_Module");
}

I2C_Over_GSML_Module::~I2C_Over_GSML_Module() {
    MURA_LOG_SCOPE(1, "~I2C_Over_GSML_Module");
}

void I2C_Over_GSML_Module::qbsc_writeI2C(uint8_t device, uint8_t reg, uint8_t value, bool tolerate_nack) {
    const uint8_t message[] = {MESSAGE_START, device, reg, 1, value};
    m_uart->send(message, sizeof message, UART_PATIENCE_MS);
    uint8_t acknowledge = 0;
    m_uart->recv(&acknowledge, 1, UART_PATIENCE_MS);
    if (acknowledge != ACKNOWLEDGE) {
        console::err("qbsc_writeI2C ACK err\n");
        if (!tolerate_nack)
            throw std::runtime_error("qbsc_writeI2C ACK error");
        ++stat_write_transactions_with_error;
    }
    ++stat_write_transactions_total;
}

uint8_t I2C_Over_GSML_Module::qbsc_readI2C(uint8_t device, uint8_t reg, uint8_t& value) {
    const uint8_t message[] = {MESSAGE_START, static_cast<uint8_t>(device | 1), reg, 1};
    m_uart->send(message, sizeof message, UART_PATIENCE_MS);
    uint8_t answer[2] = {};
    m_uart->recv(answer, 2, UART_PATIENCE_MS);
    value = answer[1];
    if (answer[0] != ACKNOWLEDGE) {
        console::err("qbsc_readI2C err\n");
        throw std::runtime_error("qbsc_readI2C error");
    }
    ++stat_read_transactions_total;
    return value;
}

void I2C_Over_GSML_Module::qbsc_readI2C_n_bytes(uint8_t device, uint8_t reg, uint8_t* bytes, uint8_t count) {
    const uint8_t message[] = {MESSAGE_START, static_cast<uint8_t>(device | 1), reg, count};
    m_uart->send(message, sizeof message, UART_PATIENCE_MS);
    uint8_t acknowledge = 0;
    m_uart->recv(&acknowledge, 1, UART_PATIENCE_MS);
    if (acknowledge != ACKNOWLEDGE) {
        console::err("qbsc_readI2C_n_bytes err\n");
        throw std::runtime_error("qbsc_readI2C_n_bytes error");
    }
    m_uart->recv(bytes, count, UART_PATIENCE_MS);
}

void I2C_Over_GSML_Module::read_bytes(uint8_t device, uint32_t start, uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        qbsc_readI2C(device, static_cast<uint8_t>(start + i), bytes[i]);
}

uint32_t I2C_Over_GSML_Module::read_string(uint8_t device, uint32_t start, char* text, uint32_t max_length) {
    // The text stays terminated after every byte, so a transaction that fails part-way leaves
    // the caller a valid (shorter) text.
    uint32_t stored = 0;
    text[0] = '\0';
    while (stored < max_length) {
        uint8_t byte = 0;
        qbsc_readI2C(device, static_cast<uint8_t>(start + stored), byte);
        if (byte == 0)
            break;
        text[stored++] = static_cast<char>(byte);
        text[stored] = '\0';
    }
    return stored;
}

void I2C_Over_GSML_Module::print_statistics() const {
    logging::info("stat_read_transactions_total : %d", stat_read_transactions_total);
    logging::info("stat_read_transactions_with_error : %d", stat_read_transactions_with_error);
    logging::info("stat_write_transactions_total : %d", stat_write_transactions_total);
    logging::info("stat_write_transactions_with_error : %d", stat_write_transactions_with_error);
}

} // namespace Selvan::MURA
