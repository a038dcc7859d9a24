#pragma once

#include "Export.h"

#include "C_Async_PSB_And_RHD_Demux.h"
#include "I_L2_Demux_CH_Results.h"
#include "I_RHD_Frame_Listener.h"
#include "Main_mux_transfer_buffer_wrapper.h"

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

// The data path from the box into the demultiplexer, as the controller library runs it: the
// demultiplexer with its main thread, the page-aligned receive buffer and the transfer buffer,
// the port gain filters, the listener wiring, the pumps (device stream or, in simulation, a
// recording) and the switches of the box's data sources. The library's streaming operations
// forward here. All operations run on the API thread except pump_data_to_demux, which runs on
// the acquisition pump thread.
class MURA_EXPORT C_Streaming_Control {
public:
    static constexpr uint32_t NP_PORT_COUNT = 4;
    static constexpr uint32_t ERROR_LEVEL_NONE = 0;
    static constexpr uint32_t ERROR_LEVEL_PUMP_FAILED = 3;
    static constexpr uint32_t RECEIVE_BUFFER_SIZE = 0x100000;
    static constexpr size_t RECEIVE_BUFFER_ALIGNMENT = 4096;
    // Device reads wait until full; they are sized to hold this much of the enabled streams
    // (in whole pages, up to RECEIVE_BUFFER_SIZE).
    static constexpr std::chrono::microseconds READ_SPAN{1000};
    static constexpr std::chrono::milliseconds SIMULATION_PUMP_PACE{10};
    // The demux thread finishes within moments of its poison packet; a minute means it is stuck.
    static constexpr std::chrono::milliseconds DEMUX_FINISH_TIMEOUT{60000};
    static constexpr uint32_t RHD_TTL_OUT_AT_START = 0x12345678;

    // Works on the library's device. `error_level` is the library's: a failed pump raises it,
    // and while it is raised the commands that would address a failed device are skipped.
    // `control_word_lock` is the library's lock of the tunnel and the control word, taken by
    // every sequence here that writes the control word.
    C_Streaming_Control(std::shared_ptr<A_MURA_Controller> controller, bool simulation,
                        std::atomic<uint32_t>& error_level, std::mutex& control_word_lock);
    ~C_Streaming_Control();
    C_Streaming_Control(const C_Streaming_Control&) = delete;
    C_Streaming_Control& operator=(const C_Streaming_Control&) = delete;

    bool is_in_simulation_mode() const { return m_simulation; }

    // --- gain filters and listeners ---
    // One fresh gain filter per port (the library makes them when the ports come up).
    void create_gain_filters();
    // The port's gain filter; empty before create_gain_filters. Throws std::out_of_range for
    // port >= 4.
    std::shared_ptr<C_L2_CH_Gain_Fix_Filter> get_gain_filter(uint32_t port) const;
    // Installs the port's channel-results listener; through the gain filter the filter becomes
    // the demultiplexer's listener and passes corrected blocks on to `listener`.
    void set_NP_aqustion_listener(std::weak_ptr<demux::I_L2_Demux_CH_Results> listener, uint32_t port,
                                  bool through_gain_filter);
    void set_RHD_aqustion_listener(std::weak_ptr<demux::I_RHD_Frame_Listener> listener);
    // The listeners of the demultiplexer and the gain filters' downstream listeners, kept aside
    // while a self test puts its own in place.
    void save_stream_listeners();
    void restore_stream_listeners();

    // --- preparation and pumps ---
    void prepare_for_streaming();
    bool prepare_for_simulation_streaming(const std::string& path);
    bool is_prepared_for_streaming() const { return m_prepared_for_streaming; }
    // One transfer from the device or the recording into the demultiplexer; false on a device
    // error or at the end of the recording (which is then rewound). Without `wait_for_full` a
    // device read takes what the box holds now (a stop's last read).
    bool pump_data_to_demux(bool wait_for_full = true);
    // The recording replayed in simulation, and a switch to another one. False when the file
    // cannot be opened; the current one stays.
    std::string get_simulation_source() const { return m_sim_path; }
    bool switch_simulation_source(const std::string& path);
    // Waits (briefly, bounded) until what was pumped has gone through the demultiplexer.
    void wait_for_data_path_to_settle();

    // --- sources on and off ---
    void enable_streaming(bool enable_np, const std::vector<uint32_t>& np_ports, bool enable_rhd,
                          const std::vector<uint32_t>& rhd_streams, bool soft_trigger);
    void disable_streaming();
    void disable_data_sources();
    void stop_main_demux_thread();
    // Starts the next run on a fresh demultiplexer: what the last run left inside the pipeline
    // (a partial batch of super frames, a partly decoded frame, a partly assembled RHD frame)
    // goes with the old one, which first finishes what is queued. Listeners and the RHD stream
    // count carry over. Does nothing before streaming is prepared.
    void renew_data_path();
    // The end of a run: every whole super frame pumped so far, and the last RHD frame, reach the
    // listeners before this returns; the next run starts on a fresh data path.
    void finish_run();
    void finalize_stream();
    void purge_read_buffers();
    void send_soft_trigger();
    void set_hw_trigger_ttl_source(uint8_t ttl_input_index);
    void set_ttl_out(uint32_t value);
    uint32_t get_ttl_in();

    // How long stop_main_demux_thread waits for the demux thread (tests shorten it).
    void set_demux_finish_timeout(std::chrono::milliseconds timeout) { m_demux_finish_timeout = timeout; }
    uint64_t get_total_bytes_pumped() const { return m_total_bytes_pumped; }
    uint32_t get_read_issue_counter() const { return m_read_issue_counter; }
    demux::Async_NP_And_RHD_Demux& get_demux() { return *m_demux; }
    // Super frames of the port the demultiplexer dropped after lost rows, over every data path
    // this object has run.
    uint64_t get_super_frames_lost(uint32_t port) const;
    // Every byte the box's stream delivers from now on is also written to this file (truncated
    // first), for looking at what the box sent; an empty path stops the capture. Returns false
    // when the file cannot be opened.
    bool set_raw_capture(const std::string& path);

private:
    void capture(const uint8_t* bytes, uint32_t count);
    bool pump_hw_data_to_demux(bool wait_for_full);
    bool pump_sim_data_to_demux();
    void start_main_demux_thread();
    uint32_t read_from_device(uint8_t* destination, bool wait_for_full);
    uint32_t pump_in_place(bool wait_for_full);
    void push_behind_partial_row(const uint8_t* bytes, uint32_t count);
    bool wait_for_demux_to_finish();
    void keep_super_frames_lost();

    struct Aligned_Free {
        void operator()(uint8_t* buffer) const;
    };

    std::shared_ptr<A_MURA_Controller> m_controller;
    bool m_simulation;
    std::atomic<uint32_t>& m_error_level;
    std::mutex& m_control_word_lock;
    // Held on the heap so that a demux thread that never finishes can be left running on it.
    std::unique_ptr<demux::Async_NP_And_RHD_Demux> m_demux;
    // What the demultiplexers replaced so far had counted.
    std::array<uint64_t, NP_PORT_COUNT> m_super_frames_lost_before{};
    std::unique_ptr<std::thread> m_main_demux_thread;
    bool m_main_demux_thread_started = false;
    std::unique_ptr<uint8_t[], Aligned_Free> m_page_aligned_recv_buffer;
    std::unique_ptr<demux::Main_mux_transfer_buffer_wrapper> m_transfer_buffer;
    // The demultiplexer's transfer buffer the next device read fills (pump thread only).
    std::unique_ptr<demux::Main_mux_transfer_buffer_wrapper> m_reading_buffer;
    uint64_t m_total_bytes_pumped = 0;
    uint8_t m_pump_report_counter = 0;
    uint32_t m_read_issue_counter = 0;
    std::ifstream m_sim_file;
    std::string m_sim_path;
    std::ofstream m_raw_capture;
    bool m_prepared_for_streaming = false;
    std::atomic<bool> m_sim_paused{false};
    std::array<std::shared_ptr<C_L2_CH_Gain_Fix_Filter>, NP_PORT_COUNT> m_gain_filters;
    std::array<std::weak_ptr<demux::I_L2_Demux_CH_Results>, NP_PORT_COUNT> m_saved_np_listeners;
    std::weak_ptr<demux::I_RHD_Frame_Listener> m_saved_rhd_listener;
    std::array<std::weak_ptr<demux::I_L2_Demux_CH_Results>, NP_PORT_COUNT> m_saved_filter_listeners;
    // A read can end inside a row; its bytes wait here to go in front of the next transfer.
    std::array<uint8_t, 16> m_partial_row{};
    uint32_t m_partial_row_length = 0;
    // The length of a device read, set when streams are enabled (API thread) and read by the pump.
    std::atomic<uint32_t> m_read_length{RECEIVE_BUFFER_SIZE};
    uint32_t m_catch_up_length = 0; // pump thread only
    uint32_t m_streaming_np_ports = 0;
    bool m_streaming_rhd = false;
    std::chrono::milliseconds m_demux_finish_timeout = DEMUX_FINISH_TIMEOUT;
};

} // namespace Selvan::MURA
