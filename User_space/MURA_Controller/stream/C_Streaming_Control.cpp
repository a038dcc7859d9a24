// Streaming control: listener wiring, the streaming resources, the pumps that move the device
// stream or a recording into the demultiplexer, and switching the data sources on and off.

#include "C_Streaming_Control.h"

#include "A_MURA_Controller.h"
#include "Aligned_Memory.h"
#include "C_Async_PSB_And_RHD_Demux.h"
#include "C_L2_CH_Gain_Fix_Filter.h"
#include "Console.h"
#include "L2_MURA_Configurator.h"
#include "Log.h"
#include "M_DataStream.h"
#include "M_Okelly_Adapter.h"
#include "Main_mux_transfer_buffer_wrapper.h"
#include "Pause.h"
#include "RHD_Frame.h"
#include "Thread_Name.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>
#include <stdexcept>

namespace Selvan::MURA {
namespace {

constexpr uint32_t ROW_BYTES = demux::Async_NP_And_RHD_Demux::ROW_BYTES;

// A demux thread that never finished is left running on its demultiplexer, which must then
// outlive the library; it is kept here, reachable, for the rest of the process.
std::mutex g_abandoned_mutex;
std::vector<std::unique_ptr<demux::Async_NP_And_RHD_Demux>>* g_abandoned_demuxes = nullptr;

void abandon(std::unique_ptr<demux::Async_NP_And_RHD_Demux> demux) {
    std::lock_guard lock(g_abandoned_mutex);
    if (!g_abandoned_demuxes)
        g_abandoned_demuxes = new std::vector<std::unique_ptr<demux::Async_NP_And_RHD_Demux>>();
    g_abandoned_demuxes->push_back(std::move(demux));
}

// The distinct stream numbers below `limit`: the streams the FPGA sends for such a list (the
// RHD frame layout depends on how many RHD data streams there are).
uint32_t distinct_streams(const std::vector<uint32_t>& streams, uint32_t limit) {
    std::set<uint32_t> distinct;
    for (uint32_t stream : streams) {
        if (stream < limit)
            distinct.insert(stream);
    }
    return static_cast<uint32_t>(distinct.size());
}

// A device read returns only when it is full, so its length sets how long a row waits before
// the demultiplexer sees it, and so how late a host gets it. Reads are sized to the whole pages
// (one at least, the receive buffer at most) that hold READ_SPAN of the enabled streams: 128 KiB
// at the box's full rate, a page with the RHD frames alone. Every AP sample period (1/30,000 s)
// the box sends a super frame of 65 rows per probe and one RHD frame.
uint32_t read_length_for(uint32_t np_ports, bool rhd, uint32_t rhd_streams) {
    using Demux = demux::Async_NP_And_RHD_Demux;
    constexpr double SAMPLE_PERIODS_PER_SECOND = 30000;
    const double rows_per_period =
        Demux::ROWS_PER_SUPER_FRAME * np_ports +
        (rhd ? demux::RHD_Frame::word_count(rhd_streams) / double(Demux::ROW_WORDS) : 0);
    const double bytes = rows_per_period * ROW_BYTES * SAMPLE_PERIODS_PER_SECOND *
                         std::chrono::duration<double>(C_Streaming_Control::READ_SPAN).count();
    if (bytes <= 0)
        return C_Streaming_Control::RECEIVE_BUFFER_SIZE;
    constexpr double PAGE = C_Streaming_Control::RECEIVE_BUFFER_ALIGNMENT;
    const double pages = std::max(1.0, std::round(bytes / PAGE));
    return static_cast<uint32_t>(std::min(pages * PAGE, double(C_Streaming_Control::RECEIVE_BUFFER_SIZE)));
}

} // namespace

void C_Streaming_Control::Aligned_Free::operator()(uint8_t* buffer) const {
    aligned_release(buffer);
}

C_Streaming_Control::C_Streaming_Control(std::shared_ptr<A_MURA_Controller> controller, bool simulation,
                                         std::atomic<uint32_t>& error_level, std::mutex& control_word_lock)
    : m_controller(std::move(controller))
    , m_simulation(simulation)
    , m_error_level(error_level)
    , m_control_word_lock(control_word_lock)
    , m_demux(std::make_unique<demux::Async_NP_And_RHD_Demux>()) {}

// The library finalizes the stream before it lets go of this object; a thread still running
// here would outlive what it works on.
C_Streaming_Control::~C_Streaming_Control() {
    if (m_main_demux_thread_started)
        stop_main_demux_thread();
}

// --- gain filters ---

void C_Streaming_Control::create_gain_filters() {
    for (auto& filter : m_gain_filters)
        filter = std::make_shared<C_L2_CH_Gain_Fix_Filter>();
}

std::shared_ptr<C_L2_CH_Gain_Fix_Filter> C_Streaming_Control::get_gain_filter(uint32_t port) const {
    if (port >= NP_PORT_COUNT)
        throw std::out_of_range("invalid array<T, N> subscript");
    return m_gain_filters[port];
}

// --- listeners ---

void C_Streaming_Control::set_NP_aqustion_listener(std::weak_ptr<demux::I_L2_Demux_CH_Results> listener,
                                                   uint32_t port, bool through_gain_filter) {
    if (!through_gain_filter) {
        m_demux->set_L2_CH_Results_Listener(std::move(listener), port);
        return;
    }
    const std::shared_ptr<C_L2_CH_Gain_Fix_Filter> filter = get_gain_filter(port);
    if (!filter)
        throw std::runtime_error("the probe ports are not initialised (pre_init has not succeeded)");
    filter->set_downstream_listener(std::move(listener));
    m_demux->set_L2_CH_Results_Listener(filter, port);
}

void C_Streaming_Control::set_RHD_aqustion_listener(std::weak_ptr<demux::I_RHD_Frame_Listener> listener) {
    m_demux->set_RHD_Results_Listener(std::move(listener));
}

void C_Streaming_Control::save_stream_listeners() {
    std::cout << "Saving stream listeners" << std::endl;
    for (uint32_t port = 0; port < NP_PORT_COUNT; ++port) {
        m_saved_np_listeners[port] = m_demux->get_L2_CH_Results_Listener(port);
        m_saved_filter_listeners[port] = m_gain_filters[port]
                                             ? m_gain_filters[port]->get_downstream_listener()
                                             : std::weak_ptr<demux::I_L2_Demux_CH_Results>();
    }
    m_saved_rhd_listener = m_demux->get_RHD_Results_Listener();
}

// The gain filters' downstream listeners come back too: a test that installs its listener
// through a filter replaces the filter's listener, and the API's converters would otherwise
// stay cut off.
void C_Streaming_Control::restore_stream_listeners() {
    std::cout << "Restoring stream listeners" << std::endl;
    for (uint32_t port = 0; port < NP_PORT_COUNT; ++port) {
        if (m_gain_filters[port])
            m_gain_filters[port]->set_downstream_listener(m_saved_filter_listeners[port]);
        m_demux->set_L2_CH_Results_Listener(m_saved_np_listeners[port], port);
    }
    m_demux->set_RHD_Results_Listener(m_saved_rhd_listener);
}

// --- preparation ---

void C_Streaming_Control::start_main_demux_thread() {
    m_demux->start_worker_threads();
    m_demux->signal_to_resync();
    m_main_demux_thread = std::make_unique<std::thread>([demux = m_demux.get()] {
        name_this_thread("np3 demux");
        demux->run();
    });
    m_main_demux_thread_started = true;
}

void C_Streaming_Control::prepare_for_streaming() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "prepare_for_streaming");
    if (m_prepared_for_streaming) {
        logging::info("Already prepard for streaming");
        return;
    }
    logging::info("m_page_aligned_recv_buffer_size = %d", RECEIVE_BUFFER_SIZE);
    auto* buffer = static_cast<uint8_t*>(aligned_allocate(RECEIVE_BUFFER_ALIGNMENT, RECEIVE_BUFFER_SIZE));
    if (!buffer)
        throw std::bad_alloc();
    m_page_aligned_recv_buffer.reset(buffer);
    start_main_demux_thread();
    logging::info("Worker thread started");
    m_controller->modules().data_stream->prepare_buffer_for_hw_read(m_page_aligned_recv_buffer.get(),
                                                                    RECEIVE_BUFFER_SIZE);
    m_transfer_buffer = std::make_unique<demux::Main_mux_transfer_buffer_wrapper>();
    m_partial_row_length = 0;
    m_prepared_for_streaming = true;
}

bool C_Streaming_Control::prepare_for_simulation_streaming(const std::string& path) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "prepare_for_simulation_streaming");
    if (m_prepared_for_streaming) {
        console::out("Alread prepard for streaming (simulation)\n");
        return true;
    }
    m_sim_file.open(path, std::ios::binary);
    if (!m_sim_file) {
        console::out("Sim file open error : {}\n", path);
        m_sim_file.clear();
        return false;
    }
    console::out("Sim file opened : {}\n", path);
    m_sim_path = path;
    start_main_demux_thread();
    console::out("Simulation worker thread started\n");
    m_transfer_buffer = std::make_unique<demux::Main_mux_transfer_buffer_wrapper>();
    m_prepared_for_streaming = true;
    return true;
}

bool C_Streaming_Control::switch_simulation_source(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        console::out("Sim file open error : {}\n", path);
        return false;
    }
    m_sim_file = std::move(file);
    m_sim_path = path;
    return true;
}

void C_Streaming_Control::wait_for_data_path_to_settle() {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + seconds(10);
    uint32_t last_count = m_demux->get_total_processed_SF_count();
    int quiet_polls = 0;
    while (quiet_polls < 5 && steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(20));
        const uint32_t count = m_demux->get_total_processed_SF_count();
        const bool idle = count == last_count && m_demux->get_main_queue_element_count() == 0;
        quiet_polls = idle ? quiet_polls + 1 : 0;
        last_count = count;
    }
}

// --- pumps ---

bool C_Streaming_Control::pump_data_to_demux(bool wait_for_full) {
    if (!m_prepared_for_streaming || !m_transfer_buffer) {
        logging::error("pump_data_to_demux : streaming is not prepared");
        return false;
    }
    return m_simulation ? pump_sim_data_to_demux() : pump_hw_data_to_demux(wait_for_full);
}

// The stream is made of 16-byte rows, but a read may end inside one: the whole rows go to the
// demultiplexer and the tail waits in front of the next read's data, so rows stay aligned.
// Reads normally end on a row boundary and are queued in place; this path puts a waiting tail
// in front of the next read.
void C_Streaming_Control::push_behind_partial_row(const uint8_t* bytes, uint32_t count) {
    demux::Main_mux_transfer_buffer_wrapper& transfer = *m_transfer_buffer;
    std::memcpy(transfer.data, m_partial_row.data(), m_partial_row_length);
    const uint32_t total = m_partial_row_length + count;
    const uint32_t whole =
        std::min(total / ROW_BYTES * ROW_BYTES, demux::Main_mux_transfer_buffer_wrapper::CAPACITY);
    const uint32_t from_bytes = whole > m_partial_row_length ? whole - m_partial_row_length : 0;
    std::memcpy(transfer.data + m_partial_row_length, bytes, from_bytes);
    // What is left (fewer than 16 bytes) becomes the new partial row.
    std::array<uint8_t, 16> tail{};
    uint32_t tail_length = 0;
    for (uint32_t i = whole; i < total; ++i)
        tail[tail_length++] = i < m_partial_row_length ? m_partial_row[i] : bytes[i - m_partial_row_length];
    m_partial_row = tail;
    m_partial_row_length = tail_length;
    if (whole == 0)
        return;
    transfer.length = whole;
    m_demux->push_xfer_buffer_to_queue(transfer);
}

// A read that comes back full at once found the data waiting: the pump is behind (the host held
// it up, or a benchmark's box sends faster than real time), and reads twice as long the next
// time, up to the receive buffer, until a read has to wait again.
uint32_t C_Streaming_Control::read_from_device(uint8_t* destination, bool wait_for_full) {
    const uint32_t paced_length = m_read_length.load(std::memory_order_relaxed);
    const uint32_t length = wait_for_full ? std::max(paced_length, m_catch_up_length) : RECEIVE_BUFFER_SIZE;
    const auto start = std::chrono::steady_clock::now();
    const uint32_t count = m_controller->modules().data_stream->read(destination, length, wait_for_full);
    // Found waiting: the read took under a quarter of the time its data took the box to send.
    const auto data_span = std::chrono::duration<double>(READ_SPAN) * length / paced_length;
    const bool found_waiting = std::chrono::steady_clock::now() - start < data_span / 4;
    m_catch_up_length =
        wait_for_full && count == length && found_waiting ? std::min(2 * length, RECEIVE_BUFFER_SIZE) : 0;
    if (count != length && wait_for_full)
        console::out("R:{} byte read from device\n", count);
    if (++m_pump_report_counter == 0)
        console::out("A:{} byte read from device\n", count);
    return std::min(count, RECEIVE_BUFFER_SIZE);
}

// The device writes straight into a transfer buffer of the demultiplexer, which is queued as
// it stands: a read is not copied again. A buffer a read left empty is kept for the
// next read.
uint32_t C_Streaming_Control::pump_in_place(bool wait_for_full) {
    if (!m_reading_buffer)
        m_reading_buffer = m_demux->acquire_transfer_buffer();
    const uint32_t count = read_from_device(m_reading_buffer->data, wait_for_full);
    capture(m_reading_buffer->data, count);
    const uint32_t whole = count / ROW_BYTES * ROW_BYTES;
    m_partial_row_length = count - whole;
    std::memcpy(m_partial_row.data(), m_reading_buffer->data + whole, m_partial_row_length);
    if (whole > 0) {
        m_reading_buffer->length = whole;
        // Keeping pace with the box, the pump decodes its transfer itself (a thread switch less
        // per read); behind it, the demux thread works alongside it.
        const bool keeping_pace = m_catch_up_length == 0;
        if (!keeping_pace || !m_demux->process_in_place(*m_reading_buffer))
            m_demux->push_transfer_buffer(std::move(m_reading_buffer));
    }
    return count;
}

bool C_Streaming_Control::pump_hw_data_to_demux(bool wait_for_full) {
    try {
        uint32_t count = 0;
        if (m_partial_row_length == 0) {
            count = pump_in_place(wait_for_full);
        } else {
            count = read_from_device(m_page_aligned_recv_buffer.get(), wait_for_full);
            capture(m_page_aligned_recv_buffer.get(), count);
            if (count > 0)
                push_behind_partial_row(m_page_aligned_recv_buffer.get(), count);
        }
        ++m_read_issue_counter;
        m_total_bytes_pumped += count;
        return true;
    } catch (const std::exception& e) {
        logging::warning("pump_hw_data_to_demux exception catched : %s", e.what());
        m_error_level = ERROR_LEVEL_PUMP_FAILED;
        return false;
    }
}

// Set before streaming starts; the pump thread alone writes.
bool C_Streaming_Control::set_raw_capture(const std::string& path) {
    m_raw_capture.close();
    if (path.empty())
        return true;
    m_raw_capture.open(path, std::ios::binary | std::ios::trunc);
    if (!m_raw_capture) {
        logging::error("The raw capture file %s cannot be opened", path);
        return false;
    }
    logging::info("The box's stream is captured to %s", path);
    return true;
}

void C_Streaming_Control::capture(const uint8_t* bytes, uint32_t count) {
    if (m_raw_capture.is_open() && count > 0)
        m_raw_capture.write(reinterpret_cast<const char*>(bytes), count);
}

bool C_Streaming_Control::pump_sim_data_to_demux() {
    demux::Main_mux_transfer_buffer_wrapper& transfer = *m_transfer_buffer;
    m_sim_file.read(reinterpret_cast<char*>(transfer.data),
                    demux::Main_mux_transfer_buffer_wrapper::CAPACITY);
    if (m_sim_file.gcount() != demux::Main_mux_transfer_buffer_wrapper::CAPACITY) {
        m_sim_file.clear();
        m_sim_file.seekg(0);
        return false;
    }
    transfer.length = demux::Main_mux_transfer_buffer_wrapper::CAPACITY;
    if (!m_sim_paused)
        m_demux->push_xfer_buffer_to_queue(transfer);
    pause_for(SIMULATION_PUMP_PACE);
    return true;
}

// --- sources on and off ---

void C_Streaming_Control::enable_streaming(bool enable_np, const std::vector<uint32_t>& np_ports,
                                           bool enable_rhd, const std::vector<uint32_t>& rhd_streams,
                                           bool soft_trigger) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "enable_streaming");
    const uint32_t rhd_stream_count = distinct_streams(rhd_streams, demux::RHD_Frame::MAX_STREAM_COUNT);
    if (m_simulation) {
        if (enable_np || enable_rhd) {
            m_sim_paused = false;
            console::out("resume streaming (simulation)\n");
        } else {
            console::out("Enable stream incorrect request (simulation)\n");
        }
    } else {
        std::lock_guard lock(m_control_word_lock);
        if (enable_np) {
            m_demux->signal_to_resync();
            m_controller->modules().configurator->enable_np_streams(np_ports);
            if (soft_trigger)
                m_controller->modules().configurator->send_soft_trigger_pulse();
            m_streaming_np_ports = distinct_streams(np_ports, NP_PORT_COUNT);
        }
        m_streaming_rhd = m_streaming_rhd || enable_rhd;
        m_read_length = read_length_for(m_streaming_np_ports, m_streaming_rhd, rhd_stream_count);
        if (enable_rhd) {
            Okelly_Adapter_Module& okelly = *m_controller->modules().okelly;
            okelly.set_continous_mode(true);
            okelly.enable_streams(std::set<uint32_t>(rhd_streams.begin(), rhd_streams.end()));
            okelly.set_ttl_out_value(RHD_TTL_OUT_AT_START);
            okelly.trigger_fsm();
        }
    }
    m_demux->set_enabled_RHD_stream_count(rhd_stream_count);
}

void C_Streaming_Control::disable_streaming() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "disable_streaming");
    if (m_simulation) {
        console::out("disable_streaming in simulation mode\n");
        console::out("pause streaming (simulation)\n");
        m_sim_paused = true;
        return;
    }
    if (m_error_level != ERROR_LEVEL_NONE) {
        logging::warning("Skipping commands for disabling streams ( m_current_error_level > 0 )");
        return;
    }
    std::lock_guard lock(m_control_word_lock);
    m_controller->modules().configurator->enable_np_streams({});
    m_controller->modules().okelly->enable_streams({});
}

void C_Streaming_Control::disable_data_sources() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "disable_data_sources");
    if (m_error_level != ERROR_LEVEL_NONE)
        return;
    std::lock_guard lock(m_control_word_lock);
    m_controller->modules().data_stream->disable_data_source();
    m_controller->modules().okelly->set_continous_mode(false);
}

void C_Streaming_Control::stop_main_demux_thread() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "stop_main_demux_thread");
    if (!m_main_demux_thread_started) {
        logging::info("m_main_demux_thread_started already not started");
        return;
    }
    m_demux->poison_queue();
    if (!wait_for_demux_to_finish()) {
        // Joining would hang the host; the thread keeps its demultiplexer, which is set aside.
        logging::error("The main demux thread did not finish within %d ms; it is left running",
                       static_cast<int>(m_demux_finish_timeout.count()));
        m_main_demux_thread->detach();
        keep_super_frames_lost();
        abandon(std::move(m_demux));
        m_demux = std::make_unique<demux::Async_NP_And_RHD_Demux>();
    } else {
        m_main_demux_thread->join();
    }
    m_main_demux_thread_started = false;
}

void C_Streaming_Control::renew_data_path() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "renew_data_path");
    if (!m_prepared_for_streaming || !m_main_demux_thread_started)
        return;
    std::array<std::weak_ptr<demux::I_L2_Demux_CH_Results>, NP_PORT_COUNT> np_listeners;
    for (uint32_t port = 0; port < NP_PORT_COUNT; ++port)
        np_listeners[port] = m_demux->get_L2_CH_Results_Listener(port);
    const std::weak_ptr<demux::I_RHD_Frame_Listener> rhd_listener = m_demux->get_RHD_Results_Listener();
    const uint32_t rhd_streams = m_demux->get_enabled_RHD_stream_count();
    stop_main_demux_thread();
    keep_super_frames_lost();
    m_demux = std::make_unique<demux::Async_NP_And_RHD_Demux>();
    for (uint32_t port = 0; port < NP_PORT_COUNT; ++port)
        m_demux->set_L2_CH_Results_Listener(np_listeners[port], port);
    m_demux->set_RHD_Results_Listener(rhd_listener);
    m_demux->set_enabled_RHD_stream_count(rhd_streams);
    start_main_demux_thread();
    m_partial_row_length = 0;
}

// The demultiplexer is told where the data ends, so it hands every whole super frame and the
// last RHD frame to the workers, and renewing the data path waits for it and its workers to
// finish all of it.
void C_Streaming_Control::finish_run() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "finish_run");
    if (!m_prepared_for_streaming || !m_main_demux_thread_started)
        return;
    m_demux->push_end_of_data();
    renew_data_path();
}

uint64_t C_Streaming_Control::get_super_frames_lost(uint32_t port) const {
    return port < NP_PORT_COUNT ? m_super_frames_lost_before[port] + m_demux->get_super_frames_lost(port) : 0;
}

void C_Streaming_Control::keep_super_frames_lost() {
    for (uint32_t port = 0; port < NP_PORT_COUNT; ++port)
        m_super_frames_lost_before[port] += m_demux->get_super_frames_lost(port);
}

// Polls in real time, briefly, so that a shutdown costs only what the demux needs; a line is
// printed for every second of waiting.
bool C_Streaming_Control::wait_for_demux_to_finish() {
    using namespace std::chrono;
    const auto start = steady_clock::now();
    auto next_report = start + seconds(1);
    while (!m_demux->is_finished()) {
        const auto now = steady_clock::now();
        if (now - start >= m_demux_finish_timeout)
            return false;
        if (now >= next_report) {
            console::out("Waiting for worker thread\n");
            next_report += seconds(1);
        }
        std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
}

void C_Streaming_Control::finalize_stream() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "finalize_stream");
    if (m_error_level == ERROR_LEVEL_NONE) {
        disable_data_sources();
        logging::info("Purge on exit disabled");
    }
    stop_main_demux_thread();
    logging::info("Read issue counter : %d", m_read_issue_counter);
    logging::info("Total processed SF counter : %d", m_demux->get_total_processed_SF_count());
    logging::info("Total processed RHD frames : %d", m_demux->get_total_processed_RHD_frame_count());
}

// The receive buffer stays registered with the device: the stream keeps writing into it.
void C_Streaming_Control::purge_read_buffers() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "purge_read_buffers");
    if (m_error_level != ERROR_LEVEL_NONE) {
        logging::info("m_current_error_level != 0");
        return;
    }
    if (!m_page_aligned_recv_buffer) {
        logging::info("purge_read_buffers : no receive buffer (streaming is not prepared)");
        return;
    }
    try {
        const uint32_t purged = m_controller->modules().data_stream->read(m_page_aligned_recv_buffer.get(),
                                                                          RECEIVE_BUFFER_SIZE, false);
        logging::info(" %d bytes purged", purged);
        m_partial_row_length = 0;
    } catch (const std::exception& e) {
        logging::warning("purge_read_buffers exception catched : %s", e.what());
    }
}

// --- triggers and TTL ---

void C_Streaming_Control::send_soft_trigger() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "send_soft_trigger");
    std::lock_guard lock(m_control_word_lock);
    m_controller->modules().configurator->send_soft_trigger_pulse();
}

void C_Streaming_Control::set_hw_trigger_ttl_source(uint8_t ttl_input_index) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "set_hw_trigger_ttl_source");
    std::lock_guard lock(m_control_word_lock);
    m_controller->modules().configurator->set_ttl_input_index(ttl_input_index);
}

void C_Streaming_Control::set_ttl_out(uint32_t value) {
    m_controller->modules().okelly->set_ttl_out_value(value);
}

uint32_t C_Streaming_Control::get_ttl_in() {
    return m_controller->modules().okelly->get_ttl_in_value();
}

} // namespace Selvan::MURA
