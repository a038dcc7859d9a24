#pragma once

#include "Card_To_Host_Stream_Model.h"
#include "Headstage_Model.h"
#include "SPI_Master_Model.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace Selvan::MURA::box_model {

struct Register_Access {
    uint32_t address;
    uint32_t value;
    bool operator==(const Register_Access&) const = default;
};

// The MURA box as the library sees it through its register window: the control word, the NP
// port PLL status, the design signature and identity words, the system monitor, both
// configuration-port interfaces with a warm boot between designs, the RHD endpoints and the
// UART at 0x0400. Every register write is recorded in order. One model may serve several
// controllers in turn (a reopen after a design switch talks to the same box). Thread-safe.
class MURA_Box_Model {
public:
    // A four-port Neuropixels design, built on 07-12-2024, all four port PLLs locked.
    static constexpr uint32_t DEFAULT_NP_SIGNATURE = 0x4E500040;
    static constexpr uint32_t DEFAULT_BUILD_TIMESTAMP = (7u << 27) | (12u << 23) | (24u << 17);
    static constexpr uint32_t DEFAULT_EFUSE = 0x0BADF00D;
    static constexpr uint32_t DEFAULT_XADC_RAW = 0x9C40; // about 34.47 degrees Celsius
    static constexpr uint32_t UNANSWERED_READ = 0xFFFFFFFF;

    struct Faults {
        bool open_fails = false;              // the driver cannot be opened
        bool foreign_icap_never_done = false; // the simple configuration port never reports done
        bool hw_icap_never_done = false;      // the HWICAP status never shows done
        bool hw_icap_control_stuck = false;   // the HWICAP start bit never clears
        bool rhd_pll_never_locks = false;     // the RHD data clock PLL never reports locked
        bool psb_pattern_broken = false;      // a probe in PSB test mode sends a wrong pattern
        bool no_test_signal = false;          // a probe in test-signal mode sends its usual data
    };

    // What a probe sends, by the registers its host wrote: its recording (the box's content),
    // the PSB test pattern (OP_MODE in PSB test), or the test signal (calibration mode with the
    // test oscillator on).
    enum class Probe_Output { recording, psb_test_pattern, broken_psb_test_pattern, test_signal };

    MURA_Box_Model();

    // --- configuration of the box ---
    void set_signature(uint32_t signature);
    // A design in the configuration flash that a warm boot at `flash_address` loads.
    void add_flash_design(uint32_t flash_address, uint32_t signature);
    void set_port_pll_status(uint32_t bits);
    void set_build_timestamp(uint32_t word);
    void set_efuse(uint32_t word);
    void set_xadc_raw(uint32_t word);
    void set_rhd_ttl_in(uint32_t value);
    void set_faults(const Faults& faults);
    // Whether register accesses are recorded for observation (on by default). A model that runs
    // for hours, as the virtual box does, turns it off so that its memory stays bounded.
    void set_access_recording(bool record);
    // Called when the control word's soft-trigger bit rises (acquisition starts); the box
    // model's lock is held, so the handler must not call back into the model.
    void set_soft_trigger_handler(std::function<void()> handler);
    // The headstage on NP port 0..3. Configure it while no library call is running.
    Headstage_Model& headstage(int port) { return m_headstages.at(static_cast<size_t>(port)); }
    // The card-to-host stream; its rows flow only for the streams the FPGA has enabled.
    Card_To_Host_Stream_Model& stream() { return m_stream; }

    // The SPI master at 0x0500 and the configuration flash behind it, with their fault switches.
    // Configure and inspect them while no library call is running.
    SPI_Master_Model& spi() { return m_spi; }
    NOR_Flash_Model& flash() { return m_spi.flash(); }

    // --- the device side, called by the box model's controller ---
    bool open();
    void close();
    // One read of the card-to-host stream (see Card_To_Host_Stream_Model::read).
    uint32_t read_stream(uint8_t* destination, uint32_t capacity);
    // What the probe on NP port 0..3 sends now (the fault switches included).
    Probe_Output probe_output(int port) const;
    // The streams the FPGA sends now; none while the driver is closed or the link is down.
    Card_To_Host_Stream_Model::Enabled_Streams enabled_streams() const;
    void write_register(uint32_t address, uint32_t value);
    uint32_t read_register(uint32_t address);

    // --- observation ---
    bool is_open() const;
    uint32_t open_count() const;
    uint32_t close_count() const;
    uint32_t boot_count() const;
    uint32_t signature() const;
    uint32_t control_word() const;
    // The FPGA sends something: an NP port's stream or the RHD frames is enabled.
    bool streams_enabled() const;
    uint32_t accesses_while_closed() const;
    std::vector<Register_Access> register_writes() const;
    std::vector<Register_Access> register_writes_from(uint32_t first, uint32_t last) const;
    std::vector<uint32_t> register_reads() const;
    void clear_access_logs();
    // Every word written through the HWICAP write FIFO, in order.
    std::vector<uint32_t> hw_icap_words() const;

private:
    bool np_design_loaded() const;
    uint32_t read_locked(uint32_t address);
    void write_locked(uint32_t address, uint32_t value);
    void write_foreign_icap(uint32_t offset, uint32_t value);
    void write_hw_icap(uint32_t offset, uint32_t value);
    void write_okelly(uint32_t address, uint32_t value);
    uint32_t read_okelly(uint32_t address) const;
    void write_uart_byte(uint8_t byte);
    void warm_boot(uint32_t flash_address);

    mutable std::mutex m_mutex;
    Faults m_faults;
    std::map<uint32_t, uint32_t> m_plain_registers;
    std::map<uint32_t, uint32_t> m_flash_designs;
    uint32_t m_signature = DEFAULT_NP_SIGNATURE;
    uint32_t m_port_pll_status = 0xF;
    uint32_t m_build_timestamp = DEFAULT_BUILD_TIMESTAMP;
    uint32_t m_efuse = DEFAULT_EFUSE;
    uint32_t m_xadc_raw = DEFAULT_XADC_RAW;
    uint32_t m_control_word = 0;
    std::function<void()> m_soft_trigger_handler;

    bool m_open = false;
    bool m_link_down = false; // after a warm boot until the driver is reopened
    uint32_t m_open_count = 0;
    uint32_t m_close_count = 0;
    uint32_t m_boot_count = 0;
    uint32_t m_accesses_while_closed = 0;

    // Simple configuration port (0x0400 block of the non-Neuropixels designs).
    uint32_t m_foreign_register_number = 0;
    uint32_t m_foreign_data = 0;
    uint32_t m_foreign_go = 0;
    bool m_foreign_done = false;
    uint32_t m_foreign_wbstar = 0;

    // HWICAP.
    std::vector<uint32_t> m_hw_icap_fifo;
    std::vector<uint32_t> m_hw_icap_words;
    bool m_hw_icap_done = false;
    bool m_hw_icap_busy = false;
    // An IPROG through the HWICAP takes effect once the port has reported the write finished.
    bool m_hw_icap_boot_pending = false;
    uint32_t m_hw_icap_wbstar = 0;

    // RHD interface.
    bool m_rhd_pll_programmed = false;
    uint32_t m_rhd_ttl_in = 0;

    // The I2C bridge behind the UART: bytes sent collect until a message is complete, the
    // answer of the headstage selected by the control word's UART channel fills the receive FIFO.
    std::vector<uint8_t> m_uart_tx;
    std::deque<uint8_t> m_uart_rx;
    std::array<Headstage_Model, 4> m_headstages;
    Card_To_Host_Stream_Model m_stream;

    SPI_Master_Model m_spi;

    bool m_record_accesses = true;
    std::vector<Register_Access> m_writes;
    std::vector<uint32_t> m_reads;
};

} // namespace Selvan::MURA::box_model
