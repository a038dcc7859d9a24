#include "M_NP_Probe_Control.h"

#include "C_NP_Probe_Config_Reader.h"
#include "Console.h"
#include "Log.h"
#include "M_I2C_Over_GSML.h"
#include "Pause.h"

#include <stdexcept>

namespace Selvan::MURA {
namespace {

constexpr uint8_t REGISTER_01_POWER_BIT = 0x10;
constexpr uint8_t REGISTER_01_ENABLE_BITS = 0xC0;
constexpr uint8_t CAL_MOD_SELECT_MASK = 0xE0;
constexpr uint8_t INIT_CLEARED_REGISTERS[] = {0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x09};

} // namespace

NP_Probe_Control_Module::NP_Probe_Control_Module(I2C_Over_GSML_Module* i2c)
    : m_i2c(i2c)
    , m_config(i2c) {
    MURA_LOG_SCOPE(1, "NP_Probe_Control_Module");
}

NP_Probe_Control_Module::~NP_Probe_Control_Module() {
    MURA_LOG_SCOPE(1, "~NP_Probe_Control_Module");
}

int NP_Probe_Control_Module::np_init() {
    MURA_LOG_SCOPE(1, "np_init");
    for (uint8_t reg : INIT_CLEARED_REGISTERS)
        m_i2c->probe_write(reg, 0, false);
    for (int channel = 0; channel < NP_Probe_Config_Module::CHANNEL_COUNT; ++channel) {
        if (channel != NP_Probe_Config_Module::INTERNAL_REFERENCE_CHANNEL)
            m_config.select_electrode(channel, 0);
    }
    m_config.initialise_channels();
    m_i2c->probe_write(OP_MODE, OP_MODE_RECORDING, false);

    uint8_t value = 0;
    m_i2c->probe_read(REGISTER_01, value);
    if (!(value & REGISTER_01_POWER_BIT)) {
        value |= REGISTER_01_POWER_BIT;
        // The first write after power-up may go unacknowledged; it is repeated.
        m_i2c->probe_write(REGISTER_01, value, true);
        m_i2c->probe_write(REGISTER_01, value, false);
    }
    value |= REGISTER_01_ENABLE_BITS;
    m_i2c->probe_write(REGISTER_01, value, false);

    load_adc_calibration();
    configure_serializer_gpio(true);
    return 0;
}

void NP_Probe_Control_Module::load_adc_calibration() {
    NP_Probe_Config_Reader reader;
    if (reader.load_adc_calibration_data_from_file()) {
        logging::log(1, "Using ADC config from file");
        for (const ADC_Calibration_Record& record : reader.records())
            m_config.set_adc_calibration(record);
        return;
    }
    logging::info("Using default ADC config");
    for (uint32_t adc = 0; adc < NP_Probe_Config_Module::ADC_COUNT; ++adc)
        m_config.set_adc_calibration({adc, 16, 16, 0, 0, 0, 0, 0, 0});
}

void NP_Probe_Control_Module::np_qor_init() {
    MURA_LOG_SCOPE(1, "np_qor_init");
    uint8_t ignored = 0;
    m_i2c->probe_read(REGISTER_01, ignored);
    pause_for(std::chrono::milliseconds(1));
    m_i2c->probe_write(REGISTER_01, 0x30, false);
    pause_for(std::chrono::milliseconds(1));
    m_i2c->probe_write(REGISTER_01, 0xD0, false);
    pause_for(std::chrono::milliseconds(1));
}

int NP_Probe_Control_Module::setOPMODE(uint32_t mode) {
    MURA_LOG_SCOPE(1, "setOPMODE");
    static constexpr uint8_t op_modes[] = {OP_MODE_RECORDING, OP_MODE_CALIBRATION, OP_MODE_PSB_TEST};
    if (mode >= std::size(op_modes)) {
        console::err("invalid param 1\n");
        return -1;
    }
    m_i2c->probe_write(OP_MODE, op_modes[mode], false);
    return 0;
}

int NP_Probe_Control_Module::setTestSignal(bool on) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "setTestSignal");
    uint8_t value = 0;
    m_i2c->probe_read(CAL_MOD, value);
    value = static_cast<uint8_t>(on ? value | CAL_MOD_OSC_STDB : value & ~CAL_MOD_OSC_STDB);
    m_i2c->probe_write(CAL_MOD, value, false);
    return 0;
}

int NP_Probe_Control_Module::set_cal_mode(uint32_t mode) {
    // Calibration select in bits 7..5: pixel, channel, none, ADC.
    static constexpr uint8_t select_bits[] = {0x80, 0x40, 0x00, 0x20};
    if (mode >= std::size(select_bits)) {
        logging::error("invalid parameter mode: %i", mode);
        return -1;
    }
    uint8_t value = 0;
    m_i2c->probe_read(CAL_MOD, value);
    value = static_cast<uint8_t>((value & ~CAL_MOD_SELECT_MASK) | select_bits[mode]);
    m_i2c->probe_write(CAL_MOD, value, false);
    return 0;
}

void NP_Probe_Control_Module::configure_serializer_gpio(bool on) {
    m_i2c->serializer_write(SERIALIZER_GPIO_CONFIG, 0x42);
    m_i2c->serializer_write(SERIALIZER_GPIO_VALUE, on ? 0xFC : 0xFE);
}

int NP_Probe_Control_Module::bist_PSB() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "bist_PSB");
    m_i2c->probe_write(REGISTER_01, 0xD0, false);
    for (uint8_t reg = 0x02; reg <= 0x07; ++reg)
        m_i2c->probe_write(reg, 0, false);
    setOPMODE(2);
    return 0;
}

void NP_Probe_Control_Module::enable_test_oscillator() {
    logging::log(1, "2.Enable the HS oscillator: set the OSC_STDB bit in the CAL_MOD register to 1.");
    setTestSignal(true);
}

int NP_Probe_Control_Module::bist_channel() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "bist_channel");
    enable_test_oscillator();
    logging::log(1, "3.Set the PIX_CAL bit in the CAL_MOD register to 1.");
    set_cal_mode(1);
    setOPMODE(1);
    return 0;
}

int NP_Probe_Control_Module::bist_pixel() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "bist_pixel");
    enable_test_oscillator();
    logging::log(1, "3.Set the PIX_CAL bit in the CAL_MOD register to 1.");
    set_cal_mode(0);
    logging::log(
        1, "4+5.Set the CAL bit in the OP_MODE register to 1. Set the REC bit in the OP_MODE register to 1");
    setOPMODE(1);
    return 0;
}

int NP_Probe_Control_Module::bist_stop() {
    logging::log(1, "2.Disable the HS oscillator");
    setTestSignal(false);
    set_cal_mode(2);
    setOPMODE(0);
    return 0;
}

void NP_Probe_Control_Module::start_prbs_test() {
    uint8_t value = 0;
    m_i2c->serializer_read(LINK_CONTROL, value);
    if (value != SERIALIZER_NORMAL)
        logging::error("serializer[0x04]==%2X expected 0x83", value);
    m_i2c->deserializer_read(LINK_CONTROL, value);
    if (value != DESERIALIZER_NORMAL)
        logging::error("deserializer[0x04]==%2X expected 0x87", value);
    logging::info("switch on deserializer PRBS %c", ' ');
    m_i2c->deserializer_write(LINK_CONTROL, DESERIALIZER_PRBS);
    logging::info("switch on serializer PRBS %c", ' ');
    m_i2c->serializer_write(LINK_CONTROL, SERIALIZER_PRBS);
}

uint32_t NP_Probe_Control_Module::stop_pbrs_test() {
    logging::info("switch off serializer PRBS %c", ' ');
    m_i2c->serializer_write(LINK_CONTROL, SERIALIZER_NORMAL);
    m_i2c->serializer_write(LINK_CONTROL, SERIALIZER_NORMAL);
    logging::info("switch off deserializer PRBS %c", ' ');
    m_i2c->deserializer_write(LINK_CONTROL, DESERIALIZER_NORMAL);
    uint8_t value = 0;
    m_i2c->serializer_read(LINK_CONTROL, value);
    if (value != SERIALIZER_NORMAL) {
        logging::error("serializer[0x04]==%2X expected 0x83", value);
        throw std::runtime_error("stop_pbrs_test : Unexpected response 1");
    }
    m_i2c->deserializer_read(LINK_CONTROL, value);
    if (value != DESERIALIZER_NORMAL) {
        logging::error("deserializer[0x04]==%2X expected 0x87", value);
        throw std::runtime_error("stop_pbrs_test : Unexpected response 2");
    }
    uint8_t errors = 0;
    m_i2c->deserializer_read(DESERIALIZER_PRBS_ERRORS, errors);
    logging::info("deserializer PRBS error count:%u", errors);
    return errors;
}

} // namespace Selvan::MURA
