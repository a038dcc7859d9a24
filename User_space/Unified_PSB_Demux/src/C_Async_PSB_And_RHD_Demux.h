#pragma once

#include "CP_L1_ADC_TO_Channel.h"
#include "C_NP_Worker_Thread.h"
#include "C_RHD_Worker_Thread.h"
#include "C_Recycling_Queue.h"
#include "Export.h"
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
#include <vector>

namespace Selvan::MURA::demux {

// Splits the box's multiplexed card-to-host stream into its consumers. The stream is a sequence
// of 16-byte rows: byte 0 holds the marker 0xD in its high nibble and the stream id in its low
// nibble (0..3 = NP port, 4 = RHD), byte 1 a per-stream row counter, bytes 2..15 seven payload
// words. NP payload is collected per port, starting at a PSB super-frame start, and handed to
// that port's worker as whole super frames: when its buffer of 1,792 is full, after every
// transfer processed in place, and after the demux thread's transfers at least
// HAND_OVER_INTERVAL apart, so that a host gets the data within about a device read of the box
// sending it, while a demultiplexer that is behind still hands over large batches. RHD words go
// to the RHD worker after every transfer buffer.
//
// Threads: the pump pushes transfer buffers, the main demux thread runs run(), four NP workers
// and one RHD worker decode. Expected order: construct, start_worker_threads, signal_to_resync,
// run() on its own thread, pushes, poison_queue, join that thread (is_finished tells when),
// destroy.
class MURA_EXPORT Async_NP_And_RHD_Demux {
public:
    static constexpr uint32_t NP_PORT_COUNT = 4;
    static constexpr uint32_t RHD_STREAM_ID = 4;
    static constexpr uint32_t ROW_BYTES = 16;
    static constexpr uint32_t ROW_PAYLOAD_BYTES = 14;
    static constexpr uint32_t ROW_WORDS = 7;
    static constexpr uint32_t ROWS_PER_SUPER_FRAME = 65;
    static constexpr uint8_t ROW_MARKER = 0xD;
    // A burst of transfer buffers keeps this many for reuse once the demux has caught up.
    static constexpr size_t SPARE_TRANSFER_BUFFERS = 8;
    // Made before the stream starts: the one the pump fills and the one the demux reads.
    static constexpr size_t PREPARED_TRANSFER_BUFFERS = 2;
    static constexpr std::chrono::microseconds HAND_OVER_INTERVAL{2000};

    Async_NP_And_RHD_Demux();
    ~Async_NP_And_RHD_Demux();
    Async_NP_And_RHD_Demux(const Async_NP_And_RHD_Demux&) = delete;
    Async_NP_And_RHD_Demux& operator=(const Async_NP_And_RHD_Demux&) = delete;

    void start_worker_threads();
    // Queues a copy of the buffer's valid bytes; called on the pump thread.
    void push_xfer_buffer_to_queue(const Main_mux_transfer_buffer_wrapper& buffer);
    // Same, straight from a receive buffer. length must not be 0.
    void push_xfer_buffer_to_queue(const uint8_t* bytes, uint32_t length);
    // A transfer buffer for the pump to fill in place (a recycled one when there is one), and
    // the hand-over of a filled one without a copy; called on the pump thread.
    std::unique_ptr<Main_mux_transfer_buffer_wrapper> acquire_transfer_buffer() {
        return m_main_demux_queue.acquire();
    }
    void push_transfer_buffer(std::unique_ptr<Main_mux_transfer_buffer_wrapper> buffer) {
        enqueue_transfer_buffer(std::move(buffer));
    }
    // Processes the pump's filled transfer on the pump's thread when no transfer waits before it
    // and the demux thread is idle; false when it must be queued instead. The buffer stays the
    // caller's.
    bool process_in_place(const Main_mux_transfer_buffer_wrapper& buffer);
    // Ends the stream: what is queued before it is processed, every whole super frame reaches
    // its worker, and run() returns once the workers have decoded it all.
    void poison_queue();
    // Marks the end of a finite stream (a recording, a benchmark): the whole super frames each
    // port has accumulated so far go to its worker instead of waiting for a full buffer, and the
    // RHD worker is told that the stream ends (a frame that ends with it is whole). No data may
    // follow it.
    void push_end_of_data();
    // Body of the main demux thread; returns after the poison packet once the queue is empty and
    // the workers are joined, or after an error that stops it (reported, workers still joined).
    void run();
    void signal_to_resync();

    void set_L2_CH_Results_Listener(std::weak_ptr<I_L2_Demux_CH_Results> listener, uint32_t np_index);
    std::weak_ptr<I_L2_Demux_CH_Results> get_L2_CH_Results_Listener(uint32_t np_index) const;
    void set_RHD_Results_Listener(std::weak_ptr<I_RHD_Frame_Listener> listener);
    std::weak_ptr<I_RHD_Frame_Listener> get_RHD_Results_Listener() const;
    void set_enabled_RHD_stream_count(uint32_t count);
    uint32_t get_enabled_RHD_stream_count() const { return m_rhd_worker.get_enabled_stream_count(); }

    // Super frames decoded by the four NP workers.
    uint32_t get_total_processed_SF_count() const;
    uint32_t get_total_processed_RHD_frame_count() const;

    // Set once run() has joined the workers; the owner may then join the main demux thread.
    bool is_finished() const { return m_finished.load(); }
    // True when run() ended on an error rather than on the poison packet.
    bool run_failed() const { return m_run_failed.load(); }

    uint32_t get_processed_transfer_buffer_count() const { return m_processed_count.load(); }
    uint32_t get_np_rows_processed(uint32_t np_index) const;
    uint32_t get_rhd_rows_processed() const { return m_rhd_rows.load(); }
    uint32_t get_row_index() const { return m_row_index.load(); }
    // Super frames of a port dropped because rows of them were lost or repeated on the way.
    uint32_t get_super_frames_lost(uint32_t np_index) const;
    uint32_t get_total_super_frames_lost() const;
    size_t get_main_queue_element_count() const { return m_main_demux_queue.size(); }
    size_t get_np_queue_element_count(uint32_t np_index) { return m_np_workers.at(np_index).queue().size(); }
    size_t get_rhd_queue_element_count() const { return m_rhd_worker.queue_element_count(); }
    static uint32_t get_main_queue_high_water_mark();
    static uint32_t get_np_queue_high_water_mark(uint32_t np_index);

    // The ADC-to-channel stage of a port, for tests that start a stream mid-recording.
    CP_L1_ADC_TO_Channel& get_adc_to_channel_stage(uint32_t np_index);

private:
    using Transfer_Queue = C_Recycling_Queue<Main_mux_transfer_buffer_wrapper>;

    void process_one_transfer_buffer();
    void process(const Main_mux_transfer_buffer_wrapper& buffer, bool live);
    void process_rows(const Main_mux_transfer_buffer_wrapper& buffer, uint32_t row_count);
    // Where a port's next rows go while nothing but appending is to be done (see process_rows).
    struct Fast_Lane {
        uint8_t* cursor;
        uint8_t* limit;
    };
    Fast_Lane open_fast_lane(uint32_t port);
    void close_fast_lane(uint32_t port, const Fast_Lane& lane);
    // Whether the row's counter is the one expected (a jump is reported); the next row is then
    // expected to carry the one after it.
    bool follow_row_counter(uint8_t id, uint8_t counter, uint8_t& expected, uint32_t row_index) {
        const bool continuous = counter == expected;
        if (!continuous)
            report_row_counter_jump(id, static_cast<uint8_t>(expected - 1), counter, row_index);
        expected = static_cast<uint8_t>(counter + 1);
        return continuous;
    }
    void report_row_counter_jump(uint8_t id, uint8_t last, uint8_t counter, uint32_t row_index);
    bool accept_np_row(uint32_t port, const uint8_t* row, bool continuous);
    bool resync_if_rows_lost(uint32_t port, bool start, bool continuous);
    void drop_super_frame_rows(uint32_t port, uint32_t rows);
    void hand_over_accumulation_buffer(uint32_t port);
    void hand_over_whole_super_frames(uint32_t port);
    void hand_over_when_due(bool live);
    void stage_rhd_row(const uint8_t* row);
    void flush_rhd_words();
    void wait_worker_threads_end();
    void enqueue_transfer_buffer(std::unique_ptr<Main_mux_transfer_buffer_wrapper> buffer);
    static void raise_high_water_mark(std::atomic<uint32_t>& mark, uint32_t count);

    Transfer_Queue m_main_demux_queue;
    // Held while a transfer is processed, by the demux thread or the pump's.
    std::mutex m_processing_mutex;
    std::array<C_NP_Worker_Thread, NP_PORT_COUNT> m_np_workers;
    C_RHD_Worker_Thread m_rhd_worker;
    bool m_worker_threads = false;
    std::array<std::unique_ptr<NP_Accumulation_Buffer>, NP_PORT_COUNT> m_accumulation_buffers;
    std::atomic<bool> m_stop{false};
    // The counter each stream's next row should carry.
    std::array<uint8_t, NP_PORT_COUNT + 1> m_expected_row_counters;
    // Per port, for the resynchronisation after lost rows (main demux thread only).
    struct Port_Sync {
        bool gap_in_super_frame = false; // a row counter jumped after the current super frame began
        bool resyncing = false;          // rows are skipped up to the next super-frame start
    };
    std::array<Port_Sync, NP_PORT_COUNT> m_port_sync{};
    std::array<std::atomic<uint32_t>, NP_PORT_COUNT> m_super_frames_lost{};
    std::atomic<uint32_t> m_processed_count{0};
    std::array<std::atomic<uint32_t>, NP_PORT_COUNT> m_np_rows{};
    std::atomic<uint32_t> m_rhd_rows{0};
    std::atomic<uint32_t> m_row_index{0};
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_run_failed{false};
    std::atomic<bool> m_dropped_push_reported{false};

    // RHD words of the current transfer buffer, handed to the RHD worker in batches.
    std::chrono::steady_clock::time_point m_last_hand_over{};
    std::vector<uint16_t> m_rhd_staging;
    size_t m_rhd_staged = 0;
};

} // namespace Selvan::MURA::demux
