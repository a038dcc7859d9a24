#pragma once

#include "Export.h"

#include <cstdint>

namespace Selvan::MURA {

class UART_Module;

// I2C devices behind a probe port's serializer/deserializer link (8-bit address form).
namespace i2c_device {
constexpr uint8_t SERIALIZER = 0x80;
constexpr uint8_t DESERIALIZER = 0x90;
constexpr uint8_t PROBE = 0xE0;
constexpr uint8_t PROBE_EEPROM = 0xA0;
constexpr uint8_t HEADSTAGE_EEPROM = 0xA4;
} // namespace i2c_device

// The I2C tunnel to the headstages: the FPGA's UART reaches a bridge on the far side of the
// GSML link, which runs each I2C transaction and answers with an acknowledge byte. One instance
// serves all four ports; the configurator routes the UART to the port in use.
class MURA_EXPORT I2C_Over_GSML_Module {
public:
    static constexpr uint8_t MESSAGE_START = 0x79; // 'y'
    static constexpr uint8_t ACKNOWLEDGE = 0xC3;
    static constexpr uint32_t UART_PATIENCE_MS = 10;

    explicit I2C_Over_GSML_Module(UART_Module* uart);
    ~I2C_Over_GSML_Module();
    I2C_Over_GSML_Module(const I2C_Over_GSML_Module&) = delete;
    I2C_Over_GSML_Module& operator=(const I2C_Over_GSML_Module&) = delete;

    // Throws "qbsc_writeI2C ACK error" on a bad acknowledge unless tolerate_nack, in which case
    // the failure is only counted.
    void qbsc_writeI2C(uint8_t device, uint8_t reg, uint8_t value, bool tolerate_nack);
    // The value is stored even when the acknowledge is bad; then "qbsc_readI2C error" is thrown.
    uint8_t qbsc_readI2C(uint8_t device, uint8_t reg, uint8_t& value);
    void qbsc_readI2C_n_bytes(uint8_t device, uint8_t reg, uint8_t* bytes, uint8_t count);

    void serializer_write(uint8_t reg, uint8_t value) {
        qbsc_writeI2C(i2c_device::SERIALIZER, reg, value, false);
    }
    uint8_t serializer_read(uint8_t reg, uint8_t& value) {
        return qbsc_readI2C(i2c_device::SERIALIZER, reg, value);
    }
    void deserializer_write(uint8_t reg, uint8_t value) {
        qbsc_writeI2C(i2c_device::DESERIALIZER, reg, value, false);
    }
    uint8_t deserializer_read(uint8_t reg, uint8_t& value) {
        return qbsc_readI2C(i2c_device::DESERIALIZER, reg, value);
    }
    void probe_write(uint8_t reg, uint8_t value, bool tolerate_nack) {
        qbsc_writeI2C(i2c_device::PROBE, reg, value, tolerate_nack);
    }
    uint8_t probe_read(uint8_t reg, uint8_t& value) { return qbsc_readI2C(i2c_device::PROBE, reg, value); }

    // Block reads of EEPROM contents, one transaction per byte (the register number is the low
    // eight bits of start + i).
    void read_bytes(uint8_t device, uint32_t start, uint8_t* bytes, uint32_t count);
    // Reads up to max_length characters, stopping at a zero byte, and always terminates the
    // text: `text` must hold max_length + 1 bytes. Returns the number of characters stored.
    uint32_t read_string(uint8_t device, uint32_t start, char* text, uint32_t max_length);

    void print_statistics() const;

    uint32_t stat_write_transactions_total = 0;
    uint32_t stat_write_transactions_with_error = 0;
    uint32_t stat_read_transactions_total = 0;
    uint32_t stat_read_transactions_with_error = 0;

private:
    UART_Module* m_uart;
};

} // namespace Selvan::MURA
