#pragma once

#include "Export.h"

#include <array>
#include <cstdint>

namespace Selvan::MURA {

class I2C_Over_GSML_Module;

// One ADC's calibration: the unit of the calibration file and of set_adc_calibration.
struct ADC_Calibration_Record {
    uint32_t adc;
    uint32_t comp_p;
    uint32_t comp_n;
    uint32_t slope;
    uint32_t coarse;
    uint32_t fine;
    uint32_t cfix;
    uint32_t offset;
    uint32_t threshold;
};

enum Probe_Reference : int { REFERENCE_EXT = 0, REFERENCE_TIP = 1, REFERENCE_INT = 2 };

// Bit images of the three configuration shift registers of a Neuropixels 1.0 probe ASIC: the
// shank register (which electrode feeds each channel, reference electrodes) and one base
// register per channel parity (reference, gains and flags per channel, ADC calibration). Edits
// are validated and kept in memory; upload_configuration shifts the images into the probe.
// Every edit returns 0 on success and -1 (after an ERROR line) on a rejected argument.
class MURA_EXPORT NP_Probe_Config_Module {
public:
    static constexpr int CHANNEL_COUNT = 384;
    static constexpr int ELECTRODE_COUNT = 960;
    static constexpr int BANK_COUNT = 3;
    static constexpr int BANK_DISCONNECT = 255;
    static constexpr int INTERNAL_REFERENCE_CHANNEL = 191;
    static constexpr int GAIN_COUNT = 8;
    static constexpr int ADC_COUNT = 32;
    static constexpr uint32_t SHANK_IMAGE_BYTES = 121;
    static constexpr uint32_t BASE_IMAGE_BYTES = 306;

    // Probe ASIC registers of the upload.
    static constexpr uint8_t SHANK_CHAIN = 0x0E;
    static constexpr uint8_t EVEN_CHANNEL_CHAIN = 0x0D;
    static constexpr uint8_t ODD_CHANNEL_CHAIN = 0x0C;
    static constexpr uint8_t UPLOAD_LENGTH_LOW = 0x10;
    static constexpr uint8_t UPLOAD_LENGTH_HIGH = 0x0F;
    static constexpr uint8_t UPLOAD_STATUS = 0x08;
    static constexpr uint8_t UPLOAD_STATUS_OK = 0x80;

    using Shank_Image = std::array<uint8_t, SHANK_IMAGE_BYTES>;
    using Base_Image = std::array<uint8_t, BASE_IMAGE_BYTES>;

    explicit NP_Probe_Config_Module(I2C_Over_GSML_Module* i2c);
    ~NP_Probe_Config_Module();
    NP_Probe_Config_Module(const NP_Probe_Config_Module&) = delete;
    NP_Probe_Config_Module& operator=(const NP_Probe_Config_Module&) = delete;

    // Connects the channel to the electrode of `bank` (0..2), disconnecting its other banks, or
    // disconnects all of the channel's electrodes with bank 255.
    int select_electrode(int channel, int bank);
    int get_channel_bank(int channel) const;
    bool get_channel_electrode(int channel, int& electrode) const;
    void print_channel_mapping() const;

    int set_gain(int channel, int ap_gain, int lfp_gain);
    int get_gain(int channel, int& ap_gain, int& lfp_gain) const;
    int set_reference(int channel, int reference, int internal_bank);
    int set_ap_highpass_flag(int channel, bool flag);
    int set_channel_flag6(int channel, bool flag);
    int set_adc_calibration(const ADC_Calibration_Record& record);

    // Writes the initial per-channel state straight into the base images (reference EXT, AP
    // gain 4, LFP gain 0, both flags clear), keeping the reference counters and gain arrays in
    // step with what the images hold.
    void initialise_channels();

    void apply_references();
    // Shifts an image into a chain register (each byte bit-reversed), readcheck_count + 1
    // times; with a read-back, checks the upload status and throws "SR upload status not ok".
    void upload_sr(uint8_t chain_register, const uint8_t* image, uint32_t length, uint32_t readcheck_count);
    void upload_configuration(bool readcheck);

    const Shank_Image& shank_image() const { return m_shank; }
    const Base_Image& even_channel_image() const { return m_even_base; }
    const Base_Image& odd_channel_image() const { return m_odd_base; }
    uint32_t reference_count(Probe_Reference reference) const { return m_reference_counts[reference]; }
    uint8_t internal_reference_bank() const { return m_internal_reference_bank; }
    const std::array<uint32_t, 2>& adc_offset_threshold(int adc) const { return m_adc_offset_threshold[adc]; }

private:
    static bool valid_channel(int channel) { return channel >= 0 && channel < CHANNEL_COUNT; }
    static bool electrode_exists(int electrode) { return electrode >= 0 && electrode < ELECTRODE_COUNT; }
    static uint32_t shank_bit_of_electrode(int electrode);

    void connect_electrode(int electrode, bool connected);
    bool electrode_connected(int electrode) const;
    Base_Image& base_image_of_channel(int channel);
    uint8_t& channel_byte(int channel);
    void write_reference_bits(int channel, int reference);
    void write_gain_fields(int channel, int ap_gain, int lfp_gain);
    int set_channel_flag(int channel, uint8_t bit, bool flag);

    Shank_Image m_shank{};
    std::array<uint32_t, 3> m_reference_counts{};
    Base_Image m_even_base{};
    Base_Image m_odd_base{};
    I2C_Over_GSML_Module* m_i2c;
    std::array<uint8_t, CHANNEL_COUNT> m_ap_gain{};
    std::array<uint8_t, CHANNEL_COUNT> m_lfp_gain{};
    uint8_t m_internal_reference_bank = 0;
    std::array<std::array<uint32_t, 2>, ADC_COUNT> m_adc_offset_threshold{};
};

} // namespace Selvan::MURA
