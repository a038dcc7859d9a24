#include "C_Async_PSB_And_RHD_Demux.h"

#include "Console.h"
#include "Log.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <stdexcept>

namespace Selvan::MURA::demux {
namespace {

// A transfer buffer holds about 22,000 RHD words with two streams: they go over in one batch,
// one lock and at most one wake-up of the RHD worker.
constexpr size_t RHD_STAGING_WORDS = 32768;
// Zero words pushed behind the RHD worker's stop flag: a whole frame of 32 streams several
// times over, so that a worker waiting inside a frame or a preamble search runs on to its
// stop check.
constexpr size_t RHD_STOP_ZERO_ROWS = 1120;
constexpr std::chrono::milliseconds RHD_FINISH_LIMIT{500};

// Process-wide, shared by all demultiplexers, never reset.
std::atomic<uint32_t> g_main_queue_high_water_mark{0};
std::array<std::atomic<uint32_t>, Async_NP_And_RHD_Demux::NP_PORT_COUNT> g_np_queue_high_water_marks{};

uint8_t row_marker(const uint8_t* row) {
    return row[0] >> 4;
}

// The row is 16-byte aligned in the transfer buffer: one aligned load, a shift past marker and
// counter, one store of 16 bytes (the last two are overwritten by the next row).
inline void append_payload(uint8_t* destination, const uint8_t* row) {
#if defined(__SSE2__)
    const __m128i whole_row = _mm_load_si128(reinterpret_cast<const __m128i*>(row));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination), _mm_srli_si128(whole_row, 2));
#else
    std::memcpy(destination, row + 2, Async_NP_And_RHD_Demux::ROW_PAYLOAD_BYTES);
#endif
}

} // namespace

Async_NP_And_RHD_Demux::Async_NP_And_RHD_Demux()
    : m_main_demux_queue(SPARE_TRANSFER_BUFFERS) {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "Async_NP_And_RHD_Demux");
    for (auto& buffer : m_accumulation_buffers) {
        buffer = std::make_unique<NP_Accumulation_Buffer>();
        buffer->used = 0;
    }
    // The first row of every stream is expected to carry counter 0.
    m_expected_row_counters.fill(0);
    m_rhd_staging.resize(RHD_STAGING_WORDS);
}

Async_NP_And_RHD_Demux::~Async_NP_And_RHD_Demux() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "~Async_NP_And_RHD_Demux");
    if (m_worker_threads)
        wait_worker_threads_end();
}

void Async_NP_And_RHD_Demux::start_worker_threads() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "start_worker_threads");
    m_main_demux_queue.prepare_spares(PREPARED_TRANSFER_BUFFERS);
    for (uint32_t i = 0; i < NP_PORT_COUNT; ++i)
        m_np_workers[i].start("NP" + std::to_string(i));
    m_rhd_worker.start("RHD");
    m_worker_threads = true;
}

void Async_NP_And_RHD_Demux::push_xfer_buffer_to_queue(const Main_mux_transfer_buffer_wrapper& buffer) {
    push_xfer_buffer_to_queue(buffer.data, buffer.length);
}

void Async_NP_And_RHD_Demux::push_xfer_buffer_to_queue(const uint8_t* bytes, uint32_t length) {
    std::unique_ptr<Main_mux_transfer_buffer_wrapper> copy = m_main_demux_queue.acquire();
    copy->length = std::min(length, Main_mux_transfer_buffer_wrapper::CAPACITY);
    std::memcpy(copy->data, bytes, copy->length);
    enqueue_transfer_buffer(std::move(copy));
}

void Async_NP_And_RHD_Demux::poison_queue() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "poison_queue");
    std::unique_ptr<Main_mux_transfer_buffer_wrapper> poison = m_main_demux_queue.acquire();
    poison->length = 0;
    enqueue_transfer_buffer(std::move(poison));
}

void Async_NP_And_RHD_Demux::push_end_of_data() {
    std::unique_ptr<Main_mux_transfer_buffer_wrapper> marker = m_main_demux_queue.acquire();
    marker->length = Main_mux_transfer_buffer_wrapper::END_OF_DATA;
    enqueue_transfer_buffer(std::move(marker));
}

// Once run() has ended nothing takes buffers from the queue any more; keeping them would only
// grow memory without bound while a pump goes on.
void Async_NP_And_RHD_Demux::enqueue_transfer_buffer(
    std::unique_ptr<Main_mux_transfer_buffer_wrapper> buffer) {
    if (m_finished) {
        if (!m_dropped_push_reported.exchange(true))
            console::err("Async_PSB_And_RHD_Demux : main demux thread has ended, transfer buffers are "
                         "dropped\n");
        return;
    }
    const uint32_t count = static_cast<uint32_t>(m_main_demux_queue.push(std::move(buffer)));
    if (count > g_main_queue_high_water_mark.load()) {
        console::out("main_demux_queue_high_water_mark : {}\n", count);
        raise_high_water_mark(g_main_queue_high_water_mark, count);
    }
}

void Async_NP_And_RHD_Demux::raise_high_water_mark(std::atomic<uint32_t>& mark, uint32_t count) {
    uint32_t current = mark.load();
    while (count > current && !mark.compare_exchange_weak(current, count)) {
    }
}

// An error that escapes the loop (a buffer too short for one row) ends the main demux thread,
// but never the host process: it is reported, the workers are joined as after the poison
// packet and the finished flag is set, so an owner waiting for it does not wait forever.
void Async_NP_And_RHD_Demux::run() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "run");
    try {
        do {
            process_one_transfer_buffer();
        } while (!(m_stop && m_main_demux_queue.size() == 0));
    } catch (const std::exception& e) {
        m_run_failed = true;
        console::err("Async_PSB_And_RHD_Demux : main demux thread stopped by an error : {}\n", e.what());
        logging::error("Main demux thread stopped by an error : %s", e.what());
    } catch (...) {
        m_run_failed = true;
        console::err("Async_PSB_And_RHD_Demux : main demux thread stopped by an unknown error\n");
        logging::error("Main demux thread stopped by an unknown error");
    }
    wait_worker_threads_end();
    m_finished = true;
    for (uint32_t np = 0; np < NP_PORT_COUNT; ++np)
        logging::info("Number of np %d rows processed : %d", np, m_np_rows[np].load());
    logging::info("Number of rhd rows processed : %d", m_rhd_rows.load());
    logging::info("End of main demux thread");
}

// A preamble in the RHD word stream's order: first the low word.
constexpr std::array<uint16_t, 4> RHD_END_MARK{0x2A53, 0x3813, 0x2AAA, 0xD7A2};

void Async_NP_And_RHD_Demux::process_one_transfer_buffer() {
    const Main_mux_transfer_buffer_wrapper& buffer = m_main_demux_queue.wait_front();
    {
        std::lock_guard lock(m_processing_mutex);
        process(buffer, false);
    }
    m_main_demux_queue.pop_front();
}

// The pump's thread processes its transfer itself when nothing is queued before it and the
// demux thread is not at work: the data then reaches the workers without a thread switch. The
// processing lock keeps the two threads apart; a transfer queued before this one is still
// counted in the queue until its processing ended, so the order is kept.
bool Async_NP_And_RHD_Demux::process_in_place(const Main_mux_transfer_buffer_wrapper& buffer) {
    if (buffer.length == 0 || buffer.length == Main_mux_transfer_buffer_wrapper::END_OF_DATA || m_finished ||
        m_stop || m_main_demux_queue.size() != 0)
        return false;
    std::unique_lock lock(m_processing_mutex, std::try_to_lock);
    if (!lock || m_stop || m_main_demux_queue.size() != 0)
        return false;
    process(buffer, true);
    return true;
}

// A transfer processed as it came (in place, the pump keeping pace with the box) goes to the
// workers at once; the demux thread, working through a backlog, hands over at most every
// HAND_OVER_INTERVAL, so that the batches stay large while it catches up.
void Async_NP_And_RHD_Demux::process(const Main_mux_transfer_buffer_wrapper& buffer, bool live) {
    if (buffer.length == Main_mux_transfer_buffer_wrapper::END_OF_DATA) {
        for (uint32_t port = 0; port < NP_PORT_COUNT; ++port)
            hand_over_whole_super_frames(port);
        // The RHD worker takes a frame once the next one's preamble follows it: a preamble
        // behind the last words says where the stream ends.
        flush_rhd_words();
        m_rhd_worker.push_words(RHD_END_MARK.data(), RHD_END_MARK.size());
        return;
    }
    if (m_processed_count.fetch_add(1) == 0)
        console::out("Elements in main demux queue: {}, packet size : {}\n", m_main_demux_queue.size(),
                     buffer.length);
    if (buffer.length == 0) {
        logging::info("Async_PSB_And_RHD_Demux : Poison packet received (m_main_demux_queue)");
        // Nothing whole stays behind: the workers get every super frame before their poison.
        for (uint32_t port = 0; port < NP_PORT_COUNT; ++port)
            hand_over_whole_super_frames(port);
        m_stop = true;
        return;
    }
    if (buffer.length < ROW_BYTES)
        throw std::runtime_error("Buffer must contain at least 16 byte");
    if (buffer.length % ROW_BYTES != 0)
        console::err("Buffer size incompatible\n");
    if (row_marker(buffer.data) != ROW_MARKER) {
        console::out("Async_PSB_And_RHD_Demux : Main mux data invalid, discarding data packet\n");
        return;
    }
    process_rows(buffer, buffer.length / ROW_BYTES);
    hand_over_when_due(live);
}

void Async_NP_And_RHD_Demux::hand_over_when_due(bool live) {
    const auto now = std::chrono::steady_clock::now();
    if (!live && now - m_last_hand_over < HAND_OVER_INTERVAL)
        return;
    m_last_hand_over = now;
    for (uint32_t port = 0; port < NP_PORT_COUNT; ++port)
        hand_over_whole_super_frames(port);
}

// Nearly every row continues its port's super frame in a buffer with room left, its counter one
// past the last: such a row is appended through the port's fast lane, kept in locals with the
// expected counters, and only any other row takes the full path (counter report, resync,
// hand-over), with the port's state written back before and read again after. Counters are
// published once per buffer, so the hot loop does no atomic operations.
void Async_NP_And_RHD_Demux::process_rows(const Main_mux_transfer_buffer_wrapper& buffer,
                                          uint32_t row_count) {
    uint32_t row_index = m_row_index.load(std::memory_order_relaxed);
    std::array<Fast_Lane, NP_PORT_COUNT> lanes;
    for (uint32_t port = 0; port < NP_PORT_COUNT; ++port)
        lanes[port] = open_fast_lane(port);
    std::array<uint8_t, NP_PORT_COUNT + 1> expected = m_expected_row_counters;
    std::array<uint32_t, NP_PORT_COUNT> np_rows{};
    uint32_t rhd_rows = 0;
    uint32_t row = 0;
    for (; row < row_count; ++row, ++row_index) {
        const uint8_t* bytes = buffer.data + row * ROW_BYTES;
        if (row_marker(bytes) != ROW_MARKER)
            break;
        const uint8_t id = bytes[0] & 0x0F;
        if (id < NP_PORT_COUNT) {
            Fast_Lane& lane = lanes[id];
            if (bytes[1] == expected[id] && lane.cursor != lane.limit) {
                // Four buffers are written at once, none of them in cache: asking for the lines
                // ahead (for writing) keeps the loop from waiting on each one.
                __builtin_prefetch(lane.cursor + 512, 1, 0);
                append_payload(lane.cursor, bytes);
                lane.cursor += ROW_PAYLOAD_BYTES;
                ++expected[id];
                ++np_rows[id];
                continue;
            }
            close_fast_lane(id, lane);
            const bool continuous = follow_row_counter(id, bytes[1], expected[id], row_index);
            np_rows[id] += accept_np_row(id, bytes, continuous);
            lane = open_fast_lane(id);
        } else if (id == RHD_STREAM_ID) {
            follow_row_counter(id, bytes[1], expected[id], row_index);
            stage_rhd_row(bytes);
            ++rhd_rows;
        } else {
            logging::warning("Unknown demux stream id : %x ", id);
        }
    }
    for (uint32_t port = 0; port < NP_PORT_COUNT; ++port)
        close_fast_lane(port, lanes[port]);
    m_expected_row_counters = expected;
    flush_rhd_words();
    m_row_index.store(row_index, std::memory_order_relaxed);
    for (uint32_t np = 0; np < NP_PORT_COUNT; ++np)
        m_np_rows[np].fetch_add(np_rows[np], std::memory_order_relaxed);
    m_rhd_rows.fetch_add(rhd_rows, std::memory_order_relaxed);
    // A bad marker means the rest of the transfer cannot be trusted to be rows at all.
    if (row < row_count)
        console::err(
            "Async_PSB_And_RHD_Demux : invalid row marker at row {} of the transfer buffer, {} bytes "
            "dropped\n",
            row, buffer.length - row * ROW_BYTES);
}

// The lane is open while the port is inside a super frame with no break in its rows and room
// left in its buffer; a closed lane has its limit at its cursor.
Async_NP_And_RHD_Demux::Fast_Lane Async_NP_And_RHD_Demux::open_fast_lane(uint32_t port) {
    NP_Accumulation_Buffer& accumulation = *m_accumulation_buffers[port];
    const Port_Sync& sync = m_port_sync[port];
    uint8_t* cursor = accumulation.payload + accumulation.used;
    const bool open = !sync.gap_in_super_frame && !sync.resyncing && accumulation.used != 0;
    return {cursor, open ? accumulation.payload + NP_Accumulation_Buffer::CAPACITY : cursor};
}

void Async_NP_And_RHD_Demux::close_fast_lane(uint32_t port, const Fast_Lane& lane) {
    NP_Accumulation_Buffer& accumulation = *m_accumulation_buffers[port];
    accumulation.used = static_cast<uint32_t>(lane.cursor - accumulation.payload);
}

void Async_NP_And_RHD_Demux::report_row_counter_jump(uint8_t id, uint8_t last, uint8_t counter,
                                                     uint32_t row_index) {
    console::out("Possible demux row counter disconitinuty for demux ch : {} at row : {}, prev value : {}, "
                 "current value : {}\n",
                 id, row_index, last, counter);
}

// A full buffer is handed over when the port's next row arrives, so the buffer always ends
// on a whole super frame. Until a port has seen a super-frame start its rows are dropped, so
// every buffer starts on one.
bool Async_NP_And_RHD_Demux::accept_np_row(uint32_t port, const uint8_t* row, bool continuous) {
    const uint8_t* payload = row + 2;
    const bool start = (read_word(payload) & NP_PSB_Raw_Data_Demuxer::SUPER_FRAME_START) != 0;
    if (!resync_if_rows_lost(port, start, continuous))
        return false;
    NP_Accumulation_Buffer* buffer = m_accumulation_buffers[port].get();
    if (buffer->used == NP_Accumulation_Buffer::CAPACITY) {
        hand_over_accumulation_buffer(port);
        buffer = m_accumulation_buffers[port].get();
    }
    if (buffer->used != 0 || start) {
        std::memcpy(buffer->payload + buffer->used, payload, ROW_PAYLOAD_BYTES);
        buffer->used += ROW_PAYLOAD_BYTES;
        return true;
    }
    console::out("Resync to super frame in progress. Row discarded. Demux ch : {}\n", port);
    return false;
}

// A row lost or repeated on the way shifts every later row of the port against the 65-row
// super frames: the decoder would find no start bit where it expects one and drop the rest of
// the accumulation buffer, and the next buffer would start just as far off. The row counter
// tells that the stream broke; the super-frame start bit then tells where. Only the super
// frames the break touched are dropped, and collection resumes at the next start. While the
// counters run on without a break nothing here changes what is kept. Returns false when the
// row is skipped.
bool Async_NP_And_RHD_Demux::resync_if_rows_lost(uint32_t port, bool start, bool continuous) {
    Port_Sync& sync = m_port_sync[port];
    if (sync.resyncing) {
        if (!start)
            return false;
        sync.resyncing = false;
        sync.gap_in_super_frame = false;
        return true;
    }
    const uint32_t used = m_accumulation_buffers[port]->used;
    const uint32_t row_in_super_frame = used / ROW_PAYLOAD_BYTES % ROWS_PER_SUPER_FRAME;
    const bool broken = !continuous || sync.gap_in_super_frame;
    if (broken && used != 0) {
        if (start && row_in_super_frame != 0) {
            // The next super frame began before this one was complete: rows of it were lost.
            drop_super_frame_rows(port, row_in_super_frame);
        } else if (!start && row_in_super_frame == 0) {
            // The super frame that just completed held a repeated row, or the start of the next
            // one was lost, or both.
            if (sync.gap_in_super_frame)
                drop_super_frame_rows(port, ROWS_PER_SUPER_FRAME);
            if (!continuous)
                m_super_frames_lost[port].fetch_add(1, std::memory_order_relaxed);
            sync.resyncing = true;
            sync.gap_in_super_frame = false;
            console::err(
                "NP demux ch {} : rows lost, resynchronising at the next super frame start ({} super "
                "frames lost so far)\n",
                port, m_super_frames_lost[port].load(std::memory_order_relaxed));
            return false;
        }
    }
    sync.gap_in_super_frame = !start && broken;
    return true;
}

void Async_NP_And_RHD_Demux::drop_super_frame_rows(uint32_t port, uint32_t rows) {
    m_accumulation_buffers[port]->used -= rows * ROW_PAYLOAD_BYTES;
    m_super_frames_lost[port].fetch_add(1, std::memory_order_relaxed);
}

// The full buffer itself moves into the worker's queue and a recycled one takes its place:
// 1.6 MB are handed over without a copy.
void Async_NP_And_RHD_Demux::hand_over_accumulation_buffer(uint32_t port) {
    C_NP_Worker_Thread::Queue& queue = m_np_workers[port].queue();
    std::unique_ptr<NP_Accumulation_Buffer> empty = queue.acquire();
    empty->used = 0;
    const uint32_t count = static_cast<uint32_t>(queue.push(std::move(m_accumulation_buffers[port])));
    m_accumulation_buffers[port] = std::move(empty);
    if (count > g_np_queue_high_water_marks[port].load()) {
        console::out("NP worker {} element count high_water_mark : {}\n", port, count);
        raise_high_water_mark(g_np_queue_high_water_marks[port], count);
    }
}

// The rows of an incomplete super frame move to the front of the next buffer.
void Async_NP_And_RHD_Demux::hand_over_whole_super_frames(uint32_t port) {
    NP_Accumulation_Buffer& full = *m_accumulation_buffers[port];
    const uint32_t tail = full.used % NP_Accumulation_Buffer::SUPER_FRAME_BYTES;
    if (full.used == tail)
        return;
    full.used -= tail;
    std::array<uint8_t, NP_Accumulation_Buffer::SUPER_FRAME_BYTES> tail_bytes;
    std::memcpy(tail_bytes.data(), full.payload + full.used, tail);
    hand_over_accumulation_buffer(port);
    NP_Accumulation_Buffer& next = *m_accumulation_buffers[port];
    std::memcpy(next.payload, tail_bytes.data(), tail);
    next.used = tail;
}

void Async_NP_And_RHD_Demux::stage_rhd_row(const uint8_t* row) {
    if (m_rhd_staged + ROW_WORDS > RHD_STAGING_WORDS)
        flush_rhd_words();
    uint16_t* staged = m_rhd_staging.data() + m_rhd_staged;
    for (uint32_t w = 0; w < ROW_WORDS; ++w)
        staged[w] = read_word(row + 2 + 2 * w);
    m_rhd_staged += ROW_WORDS;
}

void Async_NP_And_RHD_Demux::flush_rhd_words() {
    m_rhd_worker.push_words(m_rhd_staging.data(), m_rhd_staged);
    m_rhd_staged = 0;
}

void Async_NP_And_RHD_Demux::wait_worker_threads_end() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "wait_worker_threads_end");
    if (!m_worker_threads) {
        logging::info("m_worker_threads already not started");
        return;
    }
    for (auto& worker : m_np_workers)
        worker.poison_queue();
    // The RHD worker stops at its next frame, whatever is queued: it is let finish the words
    // it has first (a stop delivers the run's last frames).
    m_rhd_worker.wait_until_idle(RHD_FINISH_LIMIT);
    m_rhd_worker.signal_to_stop();
    const std::vector<uint16_t> zeros(RHD_STOP_ZERO_ROWS * ROW_WORDS, 0);
    m_rhd_worker.push_words(zeros.data(), zeros.size());
    logging::info("Joining with the threads");
    logging::info("Joining with RHD worker");
    m_rhd_worker.join();
    logging::info("Joining with NP workers");
    for (auto& worker : m_np_workers)
        worker.join();
    logging::info("Main demux worker threads done");
    m_worker_threads = false;
}

void Async_NP_And_RHD_Demux::signal_to_resync() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "signal_to_resync");
    for (auto& worker : m_np_workers)
        worker.resync();
}

void Async_NP_And_RHD_Demux::set_L2_CH_Results_Listener(std::weak_ptr<I_L2_Demux_CH_Results> listener,
                                                        uint32_t np_index) {
    if (np_index >= NP_PORT_COUNT)
        throw std::runtime_error(
            "illegal np demux index inside Async_PSB_And_RHD_Demux::set_L2_CH_Results_Listener");
    m_np_workers[np_index].set_l2_ch_result_listener(std::move(listener));
}

std::weak_ptr<I_L2_Demux_CH_Results>
Async_NP_And_RHD_Demux::get_L2_CH_Results_Listener(uint32_t np_index) const {
    if (np_index >= NP_PORT_COUNT)
        throw std::runtime_error(
            "illegal np demux index inside Async_PSB_And_RHD_Demux::get_L2_CH_Results_Listener");
    return m_np_workers[np_index].get_l2_ch_result_listener();
}

void Async_NP_And_RHD_Demux::set_RHD_Results_Listener(std::weak_ptr<I_RHD_Frame_Listener> listener) {
    m_rhd_worker.set_listener(std::move(listener));
}

std::weak_ptr<I_RHD_Frame_Listener> Async_NP_And_RHD_Demux::get_RHD_Results_Listener() const {
    return m_rhd_worker.get_listener();
}

void Async_NP_And_RHD_Demux::set_enabled_RHD_stream_count(uint32_t count) {
    m_rhd_worker.set_enabled_stream_count(count);
}

uint32_t Async_NP_And_RHD_Demux::get_total_processed_SF_count() const {
    uint32_t total = 0;
    for (const auto& worker : m_np_workers)
        total += worker.get_decoded_super_frame_count();
    return total;
}

uint32_t Async_NP_And_RHD_Demux::get_total_processed_RHD_frame_count() const {
    return m_rhd_worker.get_valid_frame_count();
}

uint32_t Async_NP_And_RHD_Demux::get_np_rows_processed(uint32_t np_index) const {
    return np_index < NP_PORT_COUNT ? m_np_rows[np_index].load() : 0;
}

uint32_t Async_NP_And_RHD_Demux::get_super_frames_lost(uint32_t np_index) const {
    return np_index < NP_PORT_COUNT ? m_super_frames_lost[np_index].load() : 0;
}

uint32_t Async_NP_And_RHD_Demux::get_total_super_frames_lost() const {
    uint32_t total = 0;
    for (const auto& lost : m_super_frames_lost)
        total += lost.load();
    return total;
}

uint32_t Async_NP_And_RHD_Demux::get_main_queue_high_water_mark() {
    return g_main_queue_high_water_mark.load();
}

uint32_t Async_NP_And_RHD_Demux::get_np_queue_high_water_mark(uint32_t np_index) {
    return np_index < NP_PORT_COUNT ? g_np_queue_high_water_marks[np_index].load() : 0;
}

CP_L1_ADC_TO_Channel& Async_NP_And_RHD_Demux::get_adc_to_channel_stage(uint32_t np_index) {
    if (np_index >= NP_PORT_COUNT)
        throw std::runtime_error(
            "illegal np demux index inside Async_PSB_And_RHD_Demux::get_adc_to_channel_stage");
    return m_np_workers[np_index].adc_to_channel_stage();
}

} // namespace Selvan::MURA::demux
