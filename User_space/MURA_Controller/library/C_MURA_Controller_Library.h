#pragma once

#include "C_SPI_Flash.h"
#include "C_Streaming_Control.h"
#include "Export.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Selvan::MURA {

class A_MURA_Controller;
class C_L2_CH_Gain_Fix_Filter;
class I2C_Over_GSML_Module;
class NP_Probe_Control_Module;
class NP_Probe_Config_Module;

// Probe initialisation sequence chosen at a port's init.
enum E_MURA_Init_Config : int {
    INIT_QOR = 0,
    INIT_STANDARD = 1,
    INIT_BIST_PSB = 2,
    INIT_BIST_CHANNEL = 3,
    INIT_BIST_PIXEL = 4,
};

// Channel reference kinds of the probe configuration.
enum channelreference_t : int { EXT_REF = 0, TIP_REF = 1, INT_REF = 2 };

// The box's 32-byte hardware information record, kept in the configuration flash. The library
// stores and returns its bytes unchanged.
struct MURA_HW_Info {
    std::array<uint8_t, 32> bytes{};
    bool operator==(const MURA_HW_Info&) const = default;
};
static_assert(sizeof(MURA_HW_Info) == 32);

// Facade through which the Neuropixels API drives one MURA box: device lifecycle, FPGA identity
// and design switch, port power-up and PLL check, probe bring-up and identification, and the
// data path from the device stream into the demultiplexer. Not copyable or movable; the API
// holds the one instance through an owning pointer. All operations run on the API thread
// except pump_data_to_demux, which runs on the acquisition pump thread.
class MURA_EXPORT MURA_Controller_Library {
public:
    static constexpr uint32_t ERROR_LEVEL_NONE = C_Streaming_Control::ERROR_LEVEL_NONE;
    static constexpr uint32_t ERROR_LEVEL_PROBE_BRING_UP = 1;
    static constexpr uint32_t ERROR_LEVEL_OPEN_FAILED = 2;
    static constexpr uint32_t ERROR_LEVEL_PUMP_FAILED = C_Streaming_Control::ERROR_LEVEL_PUMP_FAILED;

    static constexpr uint32_t PLL_LOCK_ATTEMPTS = 5;
    static constexpr std::chrono::milliseconds PLL_LOCK_ATTEMPT_PAUSE{1000};
    static constexpr std::chrono::milliseconds FPGA_REBOOT_WAIT{10000};
    static constexpr uint32_t NP_PORT_COUNT = 4;
    static constexpr uint8_t DESERIALIZER_DEVICE_ID = 10;
    static constexpr uint8_t SERIALIZER_DEVICE_ID = 9;
    static constexpr uint8_t LINK_DEVICE_ID_REGISTER = 0x1E;
    static constexpr uint32_t HS_EEPROM_VERSION_5_2 = 0x0205;
    static constexpr uint32_t HS_EEPROM_VERSION_5_3 = 0x0305;
    static constexpr uint32_t RECEIVE_BUFFER_SIZE = C_Streaming_Control::RECEIVE_BUFFER_SIZE;
    static constexpr size_t RECEIVE_BUFFER_ALIGNMENT = C_Streaming_Control::RECEIVE_BUFFER_ALIGNMENT;
    static constexpr std::chrono::milliseconds SIMULATION_PUMP_PACE =
        C_Streaming_Control::SIMULATION_PUMP_PACE;
    static constexpr std::chrono::milliseconds DEMUX_FINISH_TIMEOUT =
        C_Streaming_Control::DEMUX_FINISH_TIMEOUT;
    static constexpr uint32_t RHD_TTL_OUT_AT_START = C_Streaming_Control::RHD_TTL_OUT_AT_START;

    explicit MURA_Controller_Library(bool simulation);
    // Runs the library on a given controller (the box model in tests).
    MURA_Controller_Library(std::shared_ptr<A_MURA_Controller> controller, bool simulation);
    ~MURA_Controller_Library();
    MURA_Controller_Library(const MURA_Controller_Library&) = delete;
    MURA_Controller_Library& operator=(const MURA_Controller_Library&) = delete;

    bool open();
    // Hardware: logs the FPGA identity, sets up the control word (ONE mode, QRB004 power, port 4
    // to NP) and waits for at least one NP port PLL to lock. Simulation: pretends port 0 of a
    // two-port design is locked.
    bool pre_init(bool one_mode);
    // Checks that the Neuropixels design is loaded; otherwise, when allowed, warm-boots the FPGA
    // into it and reopens the device.
    bool check_and_switch_firmware_if_nec(bool allow_switch);
    bool icap_boot(uint32_t boot_address);

    std::string get_design_build_date() const;
    std::string get_design_identifier_from_fpga() const;
    uint32_t get_fpga_efuse() const;
    float get_fpga_temperature() const;
    uint8_t get_np_port_count_from_fpga_signature() const { return m_np_port_count_parameter_from_fpga; }
    uint8_t get_cached_np_port_status() const { return m_cached_np_port_status; }
    std::string get_library_version() const { return "1.0"; }
    bool is_in_simulation_mode() const { return m_simulation; }
    uint32_t get_current_error_level() const { return m_current_error_level; }

    // --- probe bring-up, configuration and identification (port 0..3) ---
    // Step 1: checks the link's serializer and deserializer identities.
    bool probe_init_part_1(uint32_t port);
    // Step 2: runs the chosen probe initialisation sequence.
    bool probe_init_part_2(uint32_t port, E_MURA_Init_Config config);
    bool writeProbeConfiguration(uint32_t port, bool readcheck);
    bool selectElectrode(uint32_t port, int channel, int shank, int bank);
    bool setGain(uint32_t port, int channel, int ap_gain, int lfp_gain);
    bool getGain(uint32_t port, int channel, int* ap_gain, int* lfp_gain);
    bool setReference(uint32_t port, int channel, int shank, channelreference_t reference, int bank);
    bool setAPCornerFrequency(uint32_t port, int channel, bool flag);
    // The channel's standby bit in the probe's base configuration (uploaded by the next
    // writeProbeConfiguration).
    bool setStdb(uint32_t port, int channel, bool standby);
    bool setADCCalibration(uint32_t port, const char* file);
    bool setGainCalibration(uint32_t port, const char* file);
    bool clear_all_electrode_to_bank_assignments(uint32_t port);
    // The text reads store at most length - 1 characters and always terminate the text, also
    // when they fail.
    bool readHSPN(uint32_t port, char* text, uint32_t length);
    // The headstage EEPROM's version (its first two bytes: major, minor; 5.2 or 5.3).
    bool readHSVersion(uint32_t port, uint8_t* major, uint8_t* minor);
    bool readProbePN(uint32_t port, char* text, uint32_t length);
    bool readProbeSN(uint32_t port, uint64_t* serial);
    // The headstage EEPROM's serial number: eight bytes, least significant first, from byte 2
    // (between the version and the part number of either layout); 0 where it holds none.
    bool readHSSN(uint32_t port, uint64_t* serial);
    bool dump_eeprom(uint32_t port, const char* file, uint8_t device, uint32_t count);
    bool dump_hs_eeprom(uint32_t port, const char* file, uint32_t count);
    bool dump_flex_eeprom(uint32_t port, const char* file, uint32_t count);

    // --- streaming ---
    // Installs the port's channel-results listener; through the gain filter the filter becomes
    // the demultiplexer's listener and passes corrected blocks on to `listener`.
    void set_NP_aqustion_listener(std::weak_ptr<demux::I_L2_Demux_CH_Results> listener, uint32_t port,
                                  bool through_gain_filter);
    void set_RHD_aqustion_listener(std::weak_ptr<demux::I_RHD_Frame_Listener> listener);
    // The listeners of the demultiplexer and the gain filters' downstream listeners, kept aside
    // while a self test puts its own in place.
    void save_stream_listeners();
    void restore_stream_listeners();
    void prepare_for_streaming();
    bool prepare_for_simulation_streaming(const std::string& path);
    // One transfer from the device or the recording into the demultiplexer; false on a device
    // error or at the end of the recording (which is then rewound). Without `wait_for_full` a
    // device read takes what the box holds now (a stop's last read).
    bool pump_data_to_demux(bool wait_for_full = true);
    void enable_streaming(bool enable_np, const std::vector<uint32_t>& np_ports, bool enable_rhd,
                          const std::vector<uint32_t>& rhd_streams, bool soft_trigger);
    void disable_streaming();
    void disable_data_sources();
    void stop_main_demux_thread();
    void renew_data_path();
    // Every whole super frame pumped so far reaches the listeners before this returns; the next
    // run starts on a fresh data path.
    void finish_run();
    void finalize_stream();
    void purge_read_buffers();
    void send_soft_trigger();
    void set_hw_trigger_ttl_source(uint8_t ttl_input_index);
    void set_ttl_out(uint32_t value);
    uint32_t get_ttl_in();

    // --- built-in self tests ---
    bool bist_HB(unsigned port);
    bool bist_Eeproms(unsigned port);
    bool bist_IIC(unsigned port);
    bool bist_Probe_SR(unsigned port);
    bool bist_PSB(unsigned port);
    bool bist_Signal(unsigned port);
    bool bist_start_PBRS(unsigned port);
    // `errors` is 0xFFFFFFFF unless the deserializer's count was read.
    bool bist_stop_PBRS(unsigned port, unsigned& errors);
    void set_bist_signal_mode(unsigned port, bool enable);

    // The recording replayed in simulation, and a switch to another one (the data-path self
    // tests replay their own). False when the file cannot be opened; the current one stays.
    std::string get_simulation_source() const { return m_streaming.get_simulation_source(); }
    bool switch_simulation_source(const std::string& path);
    // Waits (briefly, bounded) until what was pumped has gone through the demultiplexer.
    void wait_for_data_path_to_settle();

    bool is_prepared_for_streaming() const { return m_streaming.is_prepared_for_streaming(); }
    // How long stop_main_demux_thread waits for the demux thread (tests shorten it).
    void set_demux_finish_timeout(std::chrono::milliseconds timeout) {
        m_streaming.set_demux_finish_timeout(timeout);
    }
    uint64_t get_total_bytes_pumped() const { return m_streaming.get_total_bytes_pumped(); }
    uint32_t get_read_issue_counter() const { return m_streaming.get_read_issue_counter(); }
    demux::Async_NP_And_RHD_Demux& get_demux() { return m_streaming.get_demux(); }
    // Super frames of an NP port (0..3) dropped because rows of them were lost on the way.
    uint64_t get_super_frames_lost(uint32_t port) const { return m_streaming.get_super_frames_lost(port); }
    // See C_Streaming_Control::set_raw_capture.
    bool set_raw_capture(const std::string& path) { return m_streaming.set_raw_capture(path); }
    // The streaming control the streaming operations above forward to.
    C_Streaming_Control& streaming() { return m_streaming; }

    // --- configuration flash ---
    // The record at flash address 0xFF0000. Flash errors propagate as std::runtime_error.
    std::unique_ptr<MURA_HW_Info> read_MURA_HW_info();
    // Programs the record at 0xFF0000 without erasing and reads it back. NOR programming only
    // clears bits, so over a record that was not erased the result is a blend of both: then
    // the mismatch is logged and the result is false. Flash errors propagate.
    bool program_MURA_HW_info(const MURA_HW_Info& info);
    // Erases the sectors the image file covers and programs it at flash_address, a sector
    // boundary below the hardware information sector.
    bool program_flash(const char* image_path, uint32_t flash_address, const Flash_Progress& progress = {});

    const std::shared_ptr<A_MURA_Controller>& get_controller() const { return m_controller; }
    // The port's gain filter; empty before pre_init. Throws std::out_of_range for port >= 4.
    std::shared_ptr<C_L2_CH_Gain_Fix_Filter> get_gain_filter(uint32_t port) const;
    NP_Probe_Control_Module& probe_control(uint32_t port) const;

private:
    // Eight EEPROM bytes from `offset`, least significant first (takes the tunnel).
    bool read_eeprom_number(uint32_t port, uint8_t device, uint8_t offset, uint64_t& number);
    bool check_np_ports_status();
    void log_fpga_info();
    static uint8_t np_port_mask_from_count(uint8_t count);
    void create_probe_side_objects();
    bool np_control_init(uint32_t port, E_MURA_Init_Config config);
    void tell_gain_filter_initial_settings(uint32_t port);
    NP_Probe_Config_Module& probe_config(uint32_t port) const;
    C_L2_CH_Gain_Fix_Filter& gain_filter(uint32_t port) const;
    void route_tunnel_to(uint32_t port) const;
    uint32_t read_probe_text(uint32_t port, uint8_t device, uint32_t offset, uint32_t limit, char* text,
                             uint32_t length);
    uint32_t read_hs_eeprom_version(uint32_t port);
    std::shared_ptr<A_MURA_Controller> m_controller;
    // Written by the pump thread (a failed read) as well as the API thread.
    std::atomic<uint32_t> m_current_error_level{ERROR_LEVEL_NONE};
    bool m_simulation;
    uint8_t m_np_port_count_parameter_from_fpga = 0;
    std::unique_ptr<I2C_Over_GSML_Module> m_i2c;
    std::array<std::unique_ptr<NP_Probe_Control_Module>, NP_PORT_COUNT> m_np_probe_control;
    uint8_t m_cached_np_port_status = 0;
    // There is one I2C tunnel and one control word for all ports: every sequence that routes
    // the tunnel's UART, talks over it or rewrites the control word holds this lock, so host
    // threads working on different ports cannot interleave on the tunnel.
    mutable std::mutex m_tunnel_mutex;
    // Declared last: it shares the device, the error level and the lock above.
    C_Streaming_Control m_streaming;
};

} // namespace Selvan::MURA
