#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace Selvan::MURA::box_model {

struct I2C_Transaction {
    uint8_t device; // 8-bit address without the read flag
    uint8_t reg;
    uint8_t value; // written, or answered
    bool write;
    bool operator==(const I2C_Transaction&) const = default;
};

// One Neuropixels 1.0 headstage behind the I2C bridge of a port: serializer (0x80),
// deserializer (0x90), probe ASIC (0xE0) with its three configuration shift registers, probe
// EEPROM (0xA0) and headstage EEPROM (0xA4).
class Headstage_Model {
public:
    static constexpr uint8_t SERIALIZER = 0x80;
    static constexpr uint8_t DESERIALIZER = 0x90;
    static constexpr uint8_t PROBE = 0xE0;
    static constexpr uint8_t PROBE_EEPROM = 0xA0;
    static constexpr uint8_t HEADSTAGE_EEPROM = 0xA4;
    static constexpr uint8_t ACKNOWLEDGE = 0xC3;
    static constexpr uint8_t NOT_ACKNOWLEDGED = 0x00;
    // Shift-register chains of the probe ASIC, by register.
    static constexpr uint8_t SHANK_CHAIN = 0x0E;
    static constexpr uint8_t EVEN_CHANNEL_CHAIN = 0x0D;
    static constexpr uint8_t ODD_CHANNEL_CHAIN = 0x0C;
    static constexpr uint8_t PROBE_REGISTER_COUNT = 0x11;

    Headstage_Model();

    // --- configuration ---
    bool present = true;              // an absent headstage never answers
    std::set<uint8_t> nack_devices;   // devices that answer with a bad acknowledge
    bool upload_status_fails = false; // the upload status register reports "not ok"
    // Transactions and every upload are kept for observation; without history (a model that
    // runs for hours) only each chain's last upload is kept.
    bool keep_history = true;
    // Registers (device, register) that acknowledge writes but keep their value.
    std::set<std::pair<uint8_t, uint8_t>> stuck_registers;
    void set_device_ids(uint8_t serializer_id, uint8_t deserializer_id);
    void set_prbs_error_count(uint8_t errors);
    // Headstage EEPROM in the layout of version 5.2 (part number at 20) or 5.3 (at 10), the
    // serial number in eight bytes from byte 2, least significant first.
    void set_headstage_eeprom(uint16_t version, const std::string& part_number, uint64_t serial_number = 0);
    void set_probe_eeprom(uint64_t serial_number, const std::string& part_number);

    // --- the bridge side: one I2C transaction; nullopt means no answer at all ---
    std::optional<std::vector<uint8_t>> write(uint8_t device, uint8_t reg, uint8_t value);
    std::optional<std::vector<uint8_t>> read(uint8_t device, uint8_t reg, uint8_t count);

    // --- observation ---
    std::array<uint8_t, 256> serializer{};
    std::array<uint8_t, 256> deserializer{};
    std::array<uint8_t, PROBE_REGISTER_COUNT> probe_registers{};
    std::array<uint8_t, 256> probe_eeprom{};
    std::array<uint8_t, 256> headstage_eeprom{};
    std::vector<I2C_Transaction> transactions;
    // Every upload into a chain: the bytes shifted in, in order, per upload.
    std::vector<std::vector<uint8_t>> chain_uploads(uint8_t chain_register) const;
    // Transactions other than the bytes shifted into the chains.
    std::vector<I2C_Transaction> transactions_without_chain_bytes() const;

private:
    std::array<uint8_t, 256>* device_memory(uint8_t device);
    bool is_chain(uint8_t reg) const;
    void write_probe(uint8_t reg, uint8_t value);
    uint8_t read_probe(uint8_t reg) const;

    std::array<std::vector<std::vector<uint8_t>>, 3> m_chain_uploads;
    bool m_new_upload = true;
};

} // namespace Selvan::MURA::box_model
