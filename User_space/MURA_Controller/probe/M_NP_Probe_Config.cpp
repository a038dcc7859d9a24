#include "M_NP_Probe_Config.h"

#include "Console.h"
#include "Log.h"
#include "M_I2C_Over_GSML.h"

#include <chrono>
#include <span>
#include <stdexcept>

namespace Selvan::MURA {
namespace {

// Bit i of an image is bit (i mod 8) of byte i / 8.
void set_bit(std::span<uint8_t> image, uint32_t bit, bool value) {
    const uint8_t mask = static_cast<uint8_t>(1u << (bit % 8));
    if (value)
        image[bit / 8] |= mask;
    else
        image[bit / 8] &= static_cast<uint8_t>(~mask);
}

bool get_bit(std::span<const uint8_t> image, uint32_t bit) {
    return (image[bit / 8] >> (bit % 8)) & 1;
}

// Writes a field least significant bit first.
void write_field(std::span<uint8_t> image, uint32_t first_bit, uint32_t width, uint32_t value) {
    for (uint32_t i = 0; i < width; ++i)
        set_bit(image, first_bit + i, (value >> i) & 1);
}

uint8_t reverse_bits(uint8_t byte) {
    uint8_t reversed = 0;
    for (int i = 0; i < 8; ++i)
        reversed = static_cast<uint8_t>(reversed | (((byte >> i) & 1) << (7 - i)));
    return reversed;
}

// Layout of the base images: reference bits run in reverse channel order from bit 0, the
// channel bytes run forward from byte 72, the ADC fields sit at the top.
constexpr uint32_t reference_bit(int local_channel, int reference) {
    return 3u * (191u - static_cast<uint32_t>(local_channel)) + static_cast<uint32_t>(reference);
}
constexpr uint32_t CHANNEL_BYTES_START = 72;
constexpr uint8_t AP_GAIN_MASK = 0x07;
constexpr uint8_t LFP_GAIN_SHIFT = 3;
constexpr uint8_t LFP_GAIN_MASK = 0x38;
constexpr uint8_t FLAG6_BIT = 6;
constexpr uint8_t AP_HIGHPASS_BIT = 7;

// Shank register bits of the reference switches.
constexpr uint32_t EXT_REFERENCE_BITS[] = {965, 2};
constexpr uint32_t TIP_REFERENCE_BITS[] = {484, 483};
constexpr int INTERNAL_REFERENCE_ELECTRODES[] = {191, 575, 959};

const char* enabled_text(bool on) {
    return on ? "enabled" : "disabled";
}

} // namespace

NP_Probe_Config_Module::NP_Probe_Config_Module(I2C_Over_GSML_Module* i2c)
    : m_i2c(i2c) {
    console::out("NP_Probe_Config_Module ctor\n");
}

NP_Probe_Config_Module::~NP_Probe_Config_Module() {
    console::out("NP_Probe_Config_Module dtor\n");
}

uint32_t NP_Probe_Config_Module::shank_bit_of_electrode(int electrode) {
    const auto e = static_cast<uint32_t>(electrode);
    return e % 2 ? 482 - (e - 1) / 2 : 485 + e / 2;
}

void NP_Probe_Config_Module::connect_electrode(int electrode, bool connected) {
    set_bit(m_shank, shank_bit_of_electrode(electrode), connected);
}

bool NP_Probe_Config_Module::electrode_connected(int electrode) const {
    return get_bit(m_shank, shank_bit_of_electrode(electrode));
}

NP_Probe_Config_Module::Base_Image& NP_Probe_Config_Module::base_image_of_channel(int channel) {
    return channel % 2 ? m_odd_base : m_even_base;
}

uint8_t& NP_Probe_Config_Module::channel_byte(int channel) {
    return base_image_of_channel(channel)[CHANNEL_BYTES_START + static_cast<uint32_t>(channel / 2)];
}

int NP_Probe_Config_Module::select_electrode(int channel, int bank) {
    if (channel == INTERNAL_REFERENCE_CHANNEL) {
        logging::error("invalid channel: %i. selection of reference electrode 191/575/959 not allowed",
                       channel);
        return -1;
    }
    if (!valid_channel(channel)) {
        logging::error("invalid channel: %i. index out of bound.", channel);
        return -1;
    }
    if (bank == 2 && channel >= 192) {
        logging::error(
            "invalid electrode bank: %i for channel %i. Only bank0/1 are valid in channel range 192..383.",
            bank, channel);
        return -1;
    }
    if (bank != BANK_DISCONNECT && (bank < 0 || bank >= BANK_COUNT)) {
        logging::error("invalid electrode bank: %i", bank);
        return -1;
    }
    // One channel reads one electrode: two connected electrodes would be shorted together, so
    // a selection first disconnects the channel's other banks. Channels 192..383 have no
    // electrode in bank 2.
    for (int b = 0; b < BANK_COUNT; ++b) {
        const int electrode = CHANNEL_COUNT * b + channel;
        if (electrode_exists(electrode))
            connect_electrode(electrode, false);
    }
    if (bank != BANK_DISCONNECT)
        connect_electrode(CHANNEL_COUNT * bank + channel, true);
    return 0;
}

int NP_Probe_Config_Module::get_channel_bank(int channel) const {
    if (!valid_channel(channel))
        return BANK_DISCONNECT;
    for (int bank = 0; bank < BANK_COUNT; ++bank) {
        const int electrode = CHANNEL_COUNT * bank + channel;
        if (electrode_exists(electrode) && electrode_connected(electrode))
            return bank;
    }
    return BANK_DISCONNECT;
}

bool NP_Probe_Config_Module::get_channel_electrode(int channel, int& electrode) const {
    const int bank = get_channel_bank(channel);
    if (bank == BANK_DISCONNECT)
        return false;
    electrode = CHANNEL_COUNT * bank + channel;
    return true;
}

void NP_Probe_Config_Module::print_channel_mapping() const {
    for (int channel = 0; channel < CHANNEL_COUNT; ++channel) {
        int electrode = 0;
        if (get_channel_electrode(channel, electrode))
            console::out("Channel {} pixel mapping {}\n", channel, electrode);
        else
            console::out("Channel {} not assigned\n", channel);
    }
}

void NP_Probe_Config_Module::write_gain_fields(int channel, int ap_gain, int lfp_gain) {
    uint8_t& byte = channel_byte(channel);
    byte = static_cast<uint8_t>((byte & ~(AP_GAIN_MASK | LFP_GAIN_MASK)) | (ap_gain & AP_GAIN_MASK) |
                                ((lfp_gain << LFP_GAIN_SHIFT) & LFP_GAIN_MASK));
    m_ap_gain[static_cast<size_t>(channel)] = static_cast<uint8_t>(ap_gain);
    m_lfp_gain[static_cast<size_t>(channel)] = static_cast<uint8_t>(lfp_gain);
}

int NP_Probe_Config_Module::set_gain(int channel, int ap_gain, int lfp_gain) {
    if (!valid_channel(channel)) {
        logging::error("invalid channel: %i", channel);
        return -1;
    }
    if (ap_gain < 0 || ap_gain >= GAIN_COUNT) {
        logging::error("invalid AP gain: %i", ap_gain);
        return -1;
    }
    if (lfp_gain < 0 || lfp_gain >= GAIN_COUNT) {
        logging::error("invalid LFP gain: %i", lfp_gain);
        return -1;
    }
    write_gain_fields(channel, ap_gain, lfp_gain);
    return 0;
}

int NP_Probe_Config_Module::get_gain(int channel, int& ap_gain, int& lfp_gain) const {
    if (!valid_channel(channel))
        return -1;
    ap_gain = m_ap_gain[static_cast<size_t>(channel)];
    lfp_gain = m_lfp_gain[static_cast<size_t>(channel)];
    return 0;
}

void NP_Probe_Config_Module::write_reference_bits(int channel, int reference) {
    Base_Image& image = base_image_of_channel(channel);
    const int local = channel / 2;
    for (int kind = REFERENCE_EXT; kind <= REFERENCE_INT; ++kind) {
        const uint32_t bit = reference_bit(local, kind);
        if (get_bit(image, bit))
            --m_reference_counts[static_cast<size_t>(kind)];
        set_bit(image, bit, kind == reference);
    }
    ++m_reference_counts[static_cast<size_t>(reference)];
}

int NP_Probe_Config_Module::set_reference(int channel, int reference, int internal_bank) {
    if (internal_bank < 0 || internal_bank >= BANK_COUNT) {
        logging::error("invalid channel internal reference: %i", internal_bank);
        return -1;
    }
    m_internal_reference_bank = static_cast<uint8_t>(internal_bank);
    if (!valid_channel(channel)) {
        logging::error("invalid channel: %i", channel);
        return -1;
    }
    if (reference < REFERENCE_EXT || reference > REFERENCE_INT) {
        logging::error("invalid channel reference: %i", reference);
        return -1;
    }
    write_reference_bits(channel, reference);
    return 0;
}

int NP_Probe_Config_Module::set_channel_flag(int channel, uint8_t bit, bool flag) {
    if (!valid_channel(channel)) {
        logging::error("invalid channel: %i", channel);
        return -1;
    }
    uint8_t& byte = channel_byte(channel);
    byte = static_cast<uint8_t>(flag ? byte | (1u << bit) : byte & ~(1u << bit));
    return 0;
}

int NP_Probe_Config_Module::set_ap_highpass_flag(int channel, bool flag) {
    return set_channel_flag(channel, AP_HIGHPASS_BIT, flag);
}

int NP_Probe_Config_Module::set_channel_flag6(int channel, bool flag) {
    return set_channel_flag(channel, FLAG6_BIT, flag);
}

int NP_Probe_Config_Module::set_adc_calibration(const ADC_Calibration_Record& record) {
    if (record.adc >= ADC_COUNT) {
        logging::error("ADC channel out of bound: %i", record.adc);
        return -1;
    }
    struct Limit {
        uint32_t value;
        uint32_t maximum;
        const char* message;
    };
    const Limit limits[] = {{record.comp_p, 31, "ADC%i CompP out of bound: %i"},
                            {record.comp_n, 31, "ADC%i CompN out of bound: %i"},
                            {record.cfix, 15, "ADC%i Cfix out of bound: %i"},
                            {record.slope, 7, "ADC%i Slope out of bound: %i"},
                            {record.coarse, 3, "ADC%i Coarse out of bound: %i"},
                            {record.fine, 3, "ADC%i Fine out of bound: %i"}};
    for (const Limit& limit : limits) {
        if (limit.value > limit.maximum) {
            logging::error(limit.message, record.adc, limit.value);
            return -1;
        }
    }
    // Each group of four ADCs fills 42 bits of its parity's image, counting down from the top.
    const uint32_t half = record.adc / 2;
    const uint32_t r = half % 2;
    const uint32_t q = record.adc / 4;
    const uint32_t a = 2406 + 10 * r - 42 * q;
    const uint32_t b = a + 20 + r;
    Base_Image& image = record.adc % 2 ? m_odd_base : m_even_base;
    write_field(image, a, 5, record.comp_p);
    write_field(image, a + 5, 5, record.comp_n);
    write_field(image, b, 3, record.slope);
    write_field(image, b + 3, 2, record.fine);
    write_field(image, b + 5, 2, record.coarse);
    write_field(image, b + 7, 4, record.cfix);
    m_adc_offset_threshold[record.adc] = {record.offset, record.threshold};
    return 0;
}

void NP_Probe_Config_Module::initialise_channels() {
    for (int channel = 0; channel < CHANNEL_COUNT; ++channel) {
        write_reference_bits(channel, REFERENCE_EXT);
        write_gain_fields(channel, 4, 0);
        set_channel_flag(channel, FLAG6_BIT, false);
        set_channel_flag(channel, AP_HIGHPASS_BIT, false);
    }
}

void NP_Probe_Config_Module::apply_references() {
    const uint32_t ext = m_reference_counts[REFERENCE_EXT];
    logging::info("%i channels use EXT electrode reference", ext);
    for (uint32_t bit : EXT_REFERENCE_BITS)
        set_bit(m_shank, bit, ext != 0);
    logging::info("  -> ExtElectrode1/2 %s.", enabled_text(ext != 0));

    const uint32_t tip = m_reference_counts[REFERENCE_TIP];
    logging::info("%i channels use TIP electrode reference", tip);
    for (uint32_t bit : TIP_REFERENCE_BITS)
        set_bit(m_shank, bit, tip != 0);
    logging::info("  -> TipElectrode1/2 %s.", enabled_text(tip != 0));

    for (int electrode : INTERNAL_REFERENCE_ELECTRODES)
        connect_electrode(electrode, false);
    const uint32_t internal = m_reference_counts[REFERENCE_INT];
    if (internal != 0) {
        logging::info(
            "%i channels have internal references selected. Connecting to internal reference bank %i",
            internal, m_internal_reference_bank);
        connect_electrode(CHANNEL_COUNT * m_internal_reference_bank + INTERNAL_REFERENCE_CHANNEL, true);
    } else {
        logging::info("no internal references selected. %d", 0);
    }
}

void NP_Probe_Config_Module::upload_sr(uint8_t chain_register, const uint8_t* image, uint32_t length,
                                       uint32_t readcheck_count) {
    for (uint32_t pass = 0; pass <= readcheck_count; ++pass) {
        m_i2c->probe_write(UPLOAD_LENGTH_LOW, static_cast<uint8_t>(length & 0xFF), false);
        m_i2c->probe_write(UPLOAD_LENGTH_HIGH, static_cast<uint8_t>(length >> 8), false);
        // The chain shifts most significant bit first; the images are kept least significant first.
        for (uint32_t i = 0; i < length; ++i)
            m_i2c->probe_write(chain_register, reverse_bits(image[i]), false);
    }
    if (readcheck_count == 0)
        return;
    uint8_t status = 0;
    m_i2c->probe_read(UPLOAD_STATUS, status);
    logging::info("SR upload readcheck status: %02Xh.", status);
    if (!(status & UPLOAD_STATUS_OK))
        throw std::runtime_error("SR upload status not ok");
    logging::info("SR upload status ok. (%02Xh).", status);
}

void NP_Probe_Config_Module::upload_configuration(bool readcheck) {
    apply_references();
    const auto start = std::chrono::steady_clock::now();
    logging::info("start upload shank configuration on probe. SHANKCONFIGURATION_SIZE %d.",
                  SHANK_IMAGE_BYTES);
    upload_sr(SHANK_CHAIN, m_shank.data(), SHANK_IMAGE_BYTES, 0);
    if (readcheck)
        logging::info("[ASIC Bug Workaround] readcheck on SR_CHAIN1 ignored %d.", 0);
    const uint32_t readcheck_count = readcheck ? 1 : 0;
    logging::info("start upload odd channel base configuration on probe. BASECONFIGURATION_SIZE : %d",
                  BASE_IMAGE_BYTES);
    upload_sr(EVEN_CHANNEL_CHAIN, m_even_base.data(), BASE_IMAGE_BYTES, readcheck_count);
    logging::info("start upload even channel base configuration on probe. BASECONFIGURATION_SIZE : %d",
                  BASE_IMAGE_BYTES);
    upload_sr(ODD_CHANNEL_CHAIN, m_odd_base.data(), BASE_IMAGE_BYTES, readcheck_count);
    logging::info("start upload ADC calibration offset / threshold on probe.%d", 0);
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    console::out("Configuration loaded in {} second.\n", seconds.count());
    m_i2c->print_statistics();
}

} // namespace Selvan::MURA
