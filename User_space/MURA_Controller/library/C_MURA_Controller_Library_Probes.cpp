// Probe bring-up, configuration pass-through and EEPROM identification of the controller
// library: everything that acts on one Neuropixels port through the I2C tunnel.

#include "C_MURA_Controller_Library.h"

#include "A_MURA_Controller.h"
#include "C_L2_CH_Gain_Fix_Filter.h"
#include "C_NP_Probe_Config_Reader.h"
#include "Console.h"
#include "L2_MURA_Configurator.h"
#include "Log.h"
#include "M_I2C_Over_GSML.h"
#include "M_NP_Probe_Control.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace Selvan::MURA {
namespace {

constexpr uint32_t HS_PART_NUMBER_LIMIT = 20;
constexpr uint32_t HS_PART_NUMBER_OFFSET_5_2 = 20;
constexpr uint32_t HS_PART_NUMBER_OFFSET_5_3 = 10;
constexpr uint32_t PROBE_PART_NUMBER_LIMIT = 40;
constexpr uint32_t PROBE_PART_NUMBER_OFFSET = 40;
constexpr const char* SIMULATED_HS_PART_NUMBER = "NP2_HS_30";
constexpr const char* SIMULATED_PROBE_PART_NUMBER = "PRB_1_4_0480_1";
constexpr uint64_t SIMULATED_PROBE_SERIAL_NUMBER = 22175715561;

// Copies as much of `source` as fits with its terminator; the text stays terminated.
void copy_bounded(const char* source, char* text, uint32_t length) {
    const size_t count = std::min<size_t>(std::strlen(source), length - 1);
    std::memcpy(text, source, count);
    text[count] = '\0';
}

// A usable buffer is emptied first, so that a read that fails leaves a terminated text.
bool text_buffer_usable(char* text, uint32_t length, const char* operation) {
    if (text != nullptr && length > 0) {
        text[0] = '\0';
        return true;
    }
    logging::error("%s : no room for a text (buffer length %d)", operation, length);
    return false;
}

} // namespace

std::shared_ptr<C_L2_CH_Gain_Fix_Filter> MURA_Controller_Library::get_gain_filter(uint32_t port) const {
    return m_streaming.get_gain_filter(port);
}

NP_Probe_Control_Module& MURA_Controller_Library::probe_control(uint32_t port) const {
    if (port >= NP_PORT_COUNT)
        throw std::out_of_range("invalid array<T, N> subscript");
    if (!m_np_probe_control[port])
        throw std::runtime_error("the probe ports are not initialised (pre_init has not succeeded)");
    return *m_np_probe_control[port];
}

NP_Probe_Config_Module& MURA_Controller_Library::probe_config(uint32_t port) const {
    return probe_control(port).config();
}

C_L2_CH_Gain_Fix_Filter& MURA_Controller_Library::gain_filter(uint32_t port) const {
    C_L2_CH_Gain_Fix_Filter* filter = get_gain_filter(port).get();
    if (!filter)
        throw std::runtime_error("the probe ports are not initialised (pre_init has not succeeded)");
    return *filter;
}

void MURA_Controller_Library::route_tunnel_to(uint32_t port) const {
    m_controller->modules().configurator->assign_uart_to_np_channel(static_cast<uint8_t>(port));
}

bool MURA_Controller_Library::probe_init_part_1(uint32_t port) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "probe_init_part_1");
    logging::info("MURA_Controller_Library::probe_init_part_1() np_port_id : %d", port);
    if (port >= NP_PORT_COUNT) {
        console::out("MURA_Controller_Library::init invalid port id parameter\n");
        return false;
    }
    if (m_simulation) {
        console::out("skipping init for simulation mode\n");
        return true;
    }
    std::lock_guard lock(m_tunnel_mutex);
    try {
        if (!m_i2c)
            throw std::runtime_error("the probe ports are not initialised (pre_init has not succeeded)");
        route_tunnel_to(port);
        uint8_t id = 0;
        m_i2c->deserializer_read(LINK_DEVICE_ID_REGISTER, id);
        logging::log(1, "Deserializer device id : %d", id);
        if (id != DESERIALIZER_DEVICE_ID) {
            logging::error("Deserializer device id does not match. Read : %d", id);
            return false;
        }
        m_i2c->serializer_read(LINK_DEVICE_ID_REGISTER, id);
        logging::log(1, "Serializer device id : %d", id);
        if (id != SERIALIZER_DEVICE_ID) {
            logging::error("Serializer device id does not match. Read : %d", id);
            return false;
        }
        m_i2c->serializer_write(NP_Probe_Control_Module::LINK_CONTROL,
                                NP_Probe_Control_Module::SERIALIZER_NORMAL);
        return true;
    } catch (const std::exception& e) {
        logging::error("Exception caught while probe probe_init_part_1 : %s", e.what());
        m_current_error_level = ERROR_LEVEL_PROBE_BRING_UP;
        return false;
    }
}

bool MURA_Controller_Library::probe_init_part_2(uint32_t port, E_MURA_Init_Config config) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "probe_init_part_2");
    logging::info("MURA_Controller_Library::probe_init_part_2() np_port_id : %d, init_config : %d", port,
                  static_cast<int>(config));
    if (port >= NP_PORT_COUNT) {
        console::out("MURA_Controller_Library::init invalid port id parameter\n");
        return false;
    }
    const bool initialised = np_control_init(port, config);
    if (!initialised)
        logging::error("probe_init_part_2 failed");
    return initialised;
}

bool MURA_Controller_Library::np_control_init(uint32_t port, E_MURA_Init_Config config) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "np_control_init");
    std::lock_guard lock(m_tunnel_mutex);
    try {
        NP_Probe_Control_Module& control = probe_control(port);
        route_tunnel_to(port);
        if (config == INIT_QOR) {
            control.np_qor_init();
        } else {
            control.np_init();
            tell_gain_filter_initial_settings(port);
            if (config == INIT_BIST_PSB)
                control.bist_PSB();
            else if (config == INIT_BIST_CHANNEL)
                control.bist_channel();
            else if (config == INIT_BIST_PIXEL)
                control.bist_pixel();
        }
        control.configure_serializer_gpio(true);
        return true;
    } catch (const std::exception& e) {
        logging::error("Exception caught while np_control_init : %s", e.what());
        m_current_error_level = ERROR_LEVEL_PROBE_BRING_UP;
        return false;
    }
}

// The initialisation puts every channel on bank 0 with AP gain index 4 and LFP gain index 0;
// the gain filter must correct with the same settings.
void MURA_Controller_Library::tell_gain_filter_initial_settings(uint32_t port) {
    C_L2_CH_Gain_Fix_Filter& filter = gain_filter(port);
    for (uint32_t channel = 0; channel < C_L2_CH_Gain_Fix_Filter::CHANNEL_COUNT; ++channel) {
        filter.select_bank(channel, 0);
        filter.set_channel_gains(channel, 4, 0);
    }
}

bool MURA_Controller_Library::writeProbeConfiguration(uint32_t port, bool readcheck) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "writeProbeConfiguration");
    if (port >= NP_PORT_COUNT) {
        logging::error("Invalid argument at writeProbeConfiguration");
        return false;
    }
    std::lock_guard lock(m_tunnel_mutex);
    try {
        NP_Probe_Config_Module& config = probe_config(port);
        route_tunnel_to(port);
        config.upload_configuration(readcheck);
        if (m_simulation)
            console::out("emulating 2 second init (MURA_Controller_Library::writeProbeConfiguration)\n");
        return true;
    } catch (const std::exception& e) {
        logging::error("Exception caught during probe configuration load : %s", e.what());
        return false;
    }
}

bool MURA_Controller_Library::selectElectrode(uint32_t port, int channel, int /*shank*/, int bank) {
    std::lock_guard lock(m_tunnel_mutex);
    if (probe_config(port).select_electrode(channel, bank) != 0)
        return false;
    // A disconnected channel keeps the electrode the filter knew; there is no bank to map.
    if (bank != NP_Probe_Config_Module::BANK_DISCONNECT)
        gain_filter(port).select_bank(static_cast<uint32_t>(channel), static_cast<uint16_t>(bank));
    return true;
}

bool MURA_Controller_Library::setGain(uint32_t port, int channel, int ap_gain, int lfp_gain) {
    std::lock_guard lock(m_tunnel_mutex);
    if (probe_config(port).set_gain(channel, ap_gain, lfp_gain) != 0)
        return false;
    gain_filter(port).set_channel_gains(static_cast<uint32_t>(channel), static_cast<uint16_t>(ap_gain),
                                        static_cast<uint16_t>(lfp_gain));
    return true;
}

bool MURA_Controller_Library::getGain(uint32_t port, int channel, int* ap_gain, int* lfp_gain) {
    std::lock_guard lock(m_tunnel_mutex);
    int ap = 0;
    int lfp = 0;
    if (probe_config(port).get_gain(channel, ap, lfp) != 0)
        return false;
    if (ap_gain)
        *ap_gain = ap;
    if (lfp_gain)
        *lfp_gain = lfp;
    return true;
}

bool MURA_Controller_Library::setReference(uint32_t port, int channel, int /*shank*/,
                                           channelreference_t reference, int bank) {
    std::lock_guard lock(m_tunnel_mutex);
    return probe_config(port).set_reference(channel, reference, bank) == 0;
}

bool MURA_Controller_Library::setAPCornerFrequency(uint32_t port, int channel, bool flag) {
    std::lock_guard lock(m_tunnel_mutex);
    return probe_config(port).set_ap_highpass_flag(channel, flag) == 0;
}

bool MURA_Controller_Library::setStdb(uint32_t port, int channel, bool standby) {
    std::lock_guard lock(m_tunnel_mutex);
    return probe_config(port).set_channel_flag6(channel, standby) == 0;
}

bool MURA_Controller_Library::setGainCalibration(uint32_t port, const char* file) {
    if (!file) {
        logging::error("setGainCalibration : no file name");
        return false;
    }
    if (gain_filter(port).load_gain_calibration_file(file))
        return true;
    logging::error("setGainCalibration : the gain calibration file %s could not be loaded", file);
    return false;
}

bool MURA_Controller_Library::clear_all_electrode_to_bank_assignments(uint32_t port) {
    std::lock_guard lock(m_tunnel_mutex);
    NP_Probe_Config_Module& config = probe_config(port);
    console::out("Clearing all channel to pixel assignments.\n");
    int status = 0;
    for (int channel = 0; channel < NP_Probe_Config_Module::CHANNEL_COUNT; ++channel) {
        status = config.select_electrode(channel, NP_Probe_Config_Module::BANK_DISCONNECT);
        if (status != 0)
            console::out("Clearing not possible for channel : {}\n", channel);
    }
    return status == 0;
}

bool MURA_Controller_Library::setADCCalibration(uint32_t port, const char* file) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "setADCCalibration");
    if (!file) {
        logging::error("setADCCalibration : no file name");
        return false;
    }
    NP_Probe_Config_Reader reader;
    if (!reader.load_adc_calibration_data_from_file(file)) {
        logging::warning("ADC Calibration load error");
        logging::error("setADCCalibration : the ADC calibration file %s could not be loaded", file);
        return false;
    }
    std::lock_guard lock(m_tunnel_mutex);
    NP_Probe_Config_Module& config = probe_config(port);
    for (const ADC_Calibration_Record& record : reader.records()) {
        if (config.set_adc_calibration(record) != 0)
            return false;
    }
    logging::info("ADC Calibration loaded");
    return true;
}

uint32_t MURA_Controller_Library::read_probe_text(uint32_t port, uint8_t device, uint32_t offset,
                                                  uint32_t limit, char* text, uint32_t length) {
    route_tunnel_to(port);
    return m_i2c->read_string(device, offset, text, std::min(length - 1, limit));
}

uint32_t MURA_Controller_Library::read_hs_eeprom_version(uint32_t port) {
    probe_control(port);
    route_tunnel_to(port);
    uint8_t version_bytes[2] = {};
    m_i2c->read_bytes(i2c_device::HEADSTAGE_EEPROM, 0, version_bytes, 2);
    return version_bytes[0] | (version_bytes[1] << 8);
}

bool MURA_Controller_Library::readHSVersion(uint32_t port, uint8_t* major, uint8_t* minor) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "readHSVersion");
    if (!major || !minor) {
        logging::error("readHSVersion : no place for the version");
        return false;
    }
    uint32_t version = HS_EEPROM_VERSION_5_3;
    if (!m_simulation) {
        std::lock_guard lock(m_tunnel_mutex);
        try {
            version = read_hs_eeprom_version(port);
        } catch (const std::exception& e) {
            logging::error("Exception caught during readHSVersion : %s", e.what());
            return false;
        }
    }
    *major = static_cast<uint8_t>(version & 0xFF);
    *minor = static_cast<uint8_t>(version >> 8);
    return true;
}

bool MURA_Controller_Library::readHSPN(uint32_t port, char* text, uint32_t length) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "readHSPN");
    if (!text_buffer_usable(text, length, "readHSPN"))
        return false;
    if (m_simulation) {
        copy_bounded(SIMULATED_HS_PART_NUMBER, text, length);
        return true;
    }
    std::lock_guard lock(m_tunnel_mutex);
    try {
        const uint32_t version = read_hs_eeprom_version(port);
        uint32_t characters = 0;
        if (version == HS_EEPROM_VERSION_5_2) {
            logging::info("Reading version 5.2 HS part number");
            characters = read_probe_text(port, i2c_device::HEADSTAGE_EEPROM, HS_PART_NUMBER_OFFSET_5_2,
                                         HS_PART_NUMBER_LIMIT, text, length);
        } else if (version == HS_EEPROM_VERSION_5_3) {
            logging::info("Reading version 5.3 HS part number");
            characters = read_probe_text(port, i2c_device::HEADSTAGE_EEPROM, HS_PART_NUMBER_OFFSET_5_3,
                                         HS_PART_NUMBER_LIMIT, text, length);
        } else {
            logging::warning("Unindentifed HS EEPROM version : %x", version);
            text[0] = '\0';
        }
        logging::log(1, "%d characters read from EEPROM", characters);
        return true;
    } catch (const std::exception& e) {
        logging::error("Exception caught during readHSPN : %s", e.what());
        return false;
    }
}

bool MURA_Controller_Library::readProbePN(uint32_t port, char* text, uint32_t length) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "readProbePN");
    if (!text_buffer_usable(text, length, "readProbePN"))
        return false;
    if (m_simulation) {
        copy_bounded(SIMULATED_PROBE_PART_NUMBER, text, length);
        return true;
    }
    std::lock_guard lock(m_tunnel_mutex);
    try {
        probe_control(port);
        read_probe_text(port, i2c_device::PROBE_EEPROM, PROBE_PART_NUMBER_OFFSET, PROBE_PART_NUMBER_LIMIT,
                        text, length);
        return true;
    } catch (const std::exception& e) {
        logging::error("Exception caught during readProbePN : %s", e.what());
        return false;
    }
}

bool MURA_Controller_Library::read_eeprom_number(uint32_t port, uint8_t device, uint8_t offset,
                                                 uint64_t& number) {
    std::lock_guard lock(m_tunnel_mutex);
    probe_control(port);
    route_tunnel_to(port);
    uint8_t bytes[8] = {};
    m_i2c->read_bytes(device, offset, bytes, 8);
    number = 0;
    for (int i = 7; i >= 0; --i)
        number = (number << 8) | bytes[i];
    return true;
}

bool MURA_Controller_Library::readProbeSN(uint32_t port, uint64_t* serial) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "readProbeSN");
    if (!serial) {
        logging::error("readProbeSN : no place for the serial number");
        return false;
    }
    if (m_simulation) {
        *serial = SIMULATED_PROBE_SERIAL_NUMBER;
        return true;
    }
    try {
        return read_eeprom_number(port, i2c_device::PROBE_EEPROM, 0, *serial);
    } catch (const std::exception& e) {
        logging::error("Exception caught during readProbeSN : %s", e.what());
        return false;
    }
}

bool MURA_Controller_Library::readHSSN(uint32_t port, uint64_t* serial) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "readHSSN");
    constexpr uint8_t SERIAL_NUMBER_OFFSET = 2;
    if (!serial) {
        logging::error("readHSSN : no place for the serial number");
        return false;
    }
    if (m_simulation) {
        *serial = 0;
        return true;
    }
    try {
        return read_eeprom_number(port, i2c_device::HEADSTAGE_EEPROM, SERIAL_NUMBER_OFFSET, *serial);
    } catch (const std::exception& e) {
        logging::error("Exception caught during readHSSN : %s", e.what());
        return false;
    }
}

bool MURA_Controller_Library::dump_eeprom(uint32_t port, const char* file, uint8_t device, uint32_t count) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "dump_eeprom");
    logging::info("Reading %d bytes from eeprom at adres : %x to file %s", count, device, file);
    std::vector<uint8_t> bytes(count);
    std::lock_guard lock(m_tunnel_mutex);
    try {
        probe_control(port);
        route_tunnel_to(port);
        m_i2c->read_bytes(device, 0, bytes.data(), count);
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        if (!out) {
            logging::error("Cannot open EEPROM dump file %s", file);
            return false;
        }
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return true;
    } catch (const std::exception& e) {
        logging::error("Exception caught during dump_eeprom : %s", e.what());
        return false;
    }
}

bool MURA_Controller_Library::dump_hs_eeprom(uint32_t port, const char* file, uint32_t count) {
    return dump_eeprom(port, file, i2c_device::HEADSTAGE_EEPROM, count);
}

bool MURA_Controller_Library::dump_flex_eeprom(uint32_t port, const char* file, uint32_t count) {
    return dump_eeprom(port, file, i2c_device::PROBE_EEPROM, count);
}

} // namespace Selvan::MURA
