#pragma once

#include "Export.h"
#include "M_NP_Probe_Config.h"

#include <cstdint>

namespace Selvan::MURA {

class I2C_Over_GSML_Module;

// Operating state of one Neuropixels 1.0 probe: the initialisation sequences, operating and
// calibration modes of the probe ASIC, the built-in test-signal modes and the PRBS test of the
// serializer/deserializer link. Holds the port's configuration images.
class MURA_EXPORT NP_Probe_Control_Module {
public:
    // Probe ASIC registers.
    static constexpr uint8_t OP_MODE = 0x00;
    static constexpr uint8_t REGISTER_01 = 0x01;
    static constexpr uint8_t CAL_MOD = 0x02;
    static constexpr uint8_t OP_MODE_RECORDING = 0x40;
    static constexpr uint8_t OP_MODE_CALIBRATION = 0x60;
    static constexpr uint8_t OP_MODE_PSB_TEST = 0x50;
    static constexpr uint8_t CAL_MOD_OSC_STDB = 0x10;
    // Serializer and deserializer registers of the link.
    static constexpr uint8_t LINK_CONTROL = 0x04;
    static constexpr uint8_t SERIALIZER_NORMAL = 0x83;
    static constexpr uint8_t SERIALIZER_PRBS = 0xA3;
    static constexpr uint8_t DESERIALIZER_NORMAL = 0x87;
    static constexpr uint8_t DESERIALIZER_PRBS = 0xA7;
    static constexpr uint8_t DESERIALIZER_PRBS_ERRORS = 0x13;
    static constexpr uint8_t SERIALIZER_GPIO_CONFIG = 0x0E;
    static constexpr uint8_t SERIALIZER_GPIO_VALUE = 0x0F;

    explicit NP_Probe_Control_Module(I2C_Over_GSML_Module* i2c);
    ~NP_Probe_Control_Module();
    NP_Probe_Control_Module(const NP_Probe_Control_Module&) = delete;
    NP_Probe_Control_Module& operator=(const NP_Probe_Control_Module&) = delete;

    int np_init();
    void np_qor_init();
    int setOPMODE(uint32_t mode);
    int setTestSignal(bool on);
    int set_cal_mode(uint32_t mode);
    void configure_serializer_gpio(bool on);
    int bist_PSB();
    int bist_channel();
    int bist_pixel();
    int bist_stop();
    void start_prbs_test();
    // Returns the deserializer's PRBS error count; throws when the link does not return to
    // its normal state.
    uint32_t stop_pbrs_test();

    NP_Probe_Config_Module& config() { return m_config; }

private:
    void load_adc_calibration();
    void enable_test_oscillator();

    I2C_Over_GSML_Module* m_i2c;
    NP_Probe_Config_Module m_config;
};

} // namespace Selvan::MURA
