#include "Headstage_Model.h"

#include <algorithm>

namespace Selvan::MURA::box_model {
namespace {

constexpr uint8_t DEVICE_ID_REGISTER = 0x1E;
constexpr uint8_t LINK_CONTROL = 0x04;
constexpr uint8_t PRBS_ERRORS = 0x13;
constexpr uint8_t UPLOAD_LENGTH_LOW = 0x10;
constexpr uint8_t UPLOAD_STATUS = 0x08;

size_t chain_index(uint8_t reg) {
    return static_cast<size_t>(reg - Headstage_Model::ODD_CHANNEL_CHAIN);
}

} // namespace

Headstage_Model::Headstage_Model() {
    set_device_ids(9, 10);
    serializer[LINK_CONTROL] = 0x83;
    deserializer[LINK_CONTROL] = 0x87;
    set_headstage_eeprom(0x0305, "NP2_HS_30");
    set_probe_eeprom(18005106831, "PRB_1_4_0480_1");
}

void Headstage_Model::set_device_ids(uint8_t serializer_id, uint8_t deserializer_id) {
    serializer[DEVICE_ID_REGISTER] = serializer_id;
    deserializer[DEVICE_ID_REGISTER] = deserializer_id;
}

void Headstage_Model::set_prbs_error_count(uint8_t errors) {
    deserializer[PRBS_ERRORS] = errors;
}

void Headstage_Model::set_headstage_eeprom(uint16_t version, const std::string& part_number,
                                           uint64_t serial_number) {
    headstage_eeprom.fill(0);
    headstage_eeprom[0] = static_cast<uint8_t>(version & 0xFF);
    headstage_eeprom[1] = static_cast<uint8_t>(version >> 8);
    for (int i = 0; i < 8; ++i)
        headstage_eeprom[static_cast<size_t>(2 + i)] = static_cast<uint8_t>(serial_number >> (8 * i));
    const size_t offset = version == 0x0205 ? 20 : 10;
    std::copy(part_number.begin(), part_number.end(), headstage_eeprom.begin() + static_cast<long>(offset));
}

void Headstage_Model::set_probe_eeprom(uint64_t serial_number, const std::string& part_number) {
    probe_eeprom.fill(0);
    for (int i = 0; i < 8; ++i)
        probe_eeprom[static_cast<size_t>(i)] = static_cast<uint8_t>(serial_number >> (8 * i));
    std::copy(part_number.begin(), part_number.end(), probe_eeprom.begin() + 40);
}

std::array<uint8_t, 256>* Headstage_Model::device_memory(uint8_t device) {
    switch (device) {
    case SERIALIZER:
        return &serializer;
    case DESERIALIZER:
        return &deserializer;
    case PROBE_EEPROM:
        return &probe_eeprom;
    case HEADSTAGE_EEPROM:
        return &headstage_eeprom;
    default:
        return nullptr;
    }
}

bool Headstage_Model::is_chain(uint8_t reg) const {
    return reg >= ODD_CHANNEL_CHAIN && reg <= SHANK_CHAIN;
}

// Writing the upload length starts a new upload; the bytes that follow are shifted into the
// chain they are written to.
void Headstage_Model::write_probe(uint8_t reg, uint8_t value) {
    if (reg == UPLOAD_LENGTH_LOW)
        m_new_upload = true;
    if (is_chain(reg)) {
        auto& uploads = m_chain_uploads[chain_index(reg)];
        if (m_new_upload && !keep_history)
            uploads.clear();
        if (m_new_upload || uploads.empty())
            uploads.emplace_back();
        m_new_upload = false;
        uploads.back().push_back(value);
        return;
    }
    if (reg < PROBE_REGISTER_COUNT)
        probe_registers[reg] = value;
}

uint8_t Headstage_Model::read_probe(uint8_t reg) const {
    if (reg == UPLOAD_STATUS)
        return upload_status_fails ? 0x00 : 0x80;
    return reg < PROBE_REGISTER_COUNT ? probe_registers[reg] : 0;
}

std::optional<std::vector<uint8_t>> Headstage_Model::write(uint8_t device, uint8_t reg, uint8_t value) {
    if (!present)
        return std::nullopt;
    if (keep_history)
        transactions.push_back({device, reg, value, true});
    if (nack_devices.count(device))
        return std::vector<uint8_t>{NOT_ACKNOWLEDGED};
    if (stuck_registers.count({device, reg}))
        return std::vector<uint8_t>{ACKNOWLEDGE};
    if (device == PROBE)
        write_probe(reg, value);
    else if (auto* memory = device_memory(device))
        (*memory)[reg] = value;
    else
        return std::vector<uint8_t>{NOT_ACKNOWLEDGED};
    return std::vector<uint8_t>{ACKNOWLEDGE};
}

std::optional<std::vector<uint8_t>> Headstage_Model::read(uint8_t device, uint8_t reg, uint8_t count) {
    if (!present)
        return std::nullopt;
    std::vector<uint8_t> answer{nack_devices.count(device) ? NOT_ACKNOWLEDGED : ACKNOWLEDGE};
    auto* memory = device_memory(device);
    if (device != PROBE && !memory)
        answer[0] = NOT_ACKNOWLEDGED;
    for (uint8_t i = 0; i < count; ++i) {
        const auto r = static_cast<uint8_t>(reg + i);
        const uint8_t value = device == PROBE ? read_probe(r) : memory ? (*memory)[r] : 0;
        answer.push_back(value);
        if (keep_history)
            transactions.push_back({device, r, value, false});
    }
    return answer;
}

std::vector<std::vector<uint8_t>> Headstage_Model::chain_uploads(uint8_t chain_register) const {
    return m_chain_uploads[chain_index(chain_register)];
}

std::vector<I2C_Transaction> Headstage_Model::transactions_without_chain_bytes() const {
    std::vector<I2C_Transaction> selected;
    for (const auto& t : transactions) {
        if (!(t.device == PROBE && t.write && is_chain(t.reg)))
            selected.push_back(t);
    }
    return selected;
}

} // namespace Selvan::MURA::box_model
