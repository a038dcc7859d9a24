#pragma once

#include "C_Listener_Slot.h"
#include "C_RHD_Word_Queue.h"
#include "Export.h"
#include "I_RHD_Frame_Listener.h"
#include "RHD_Frame.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace Selvan::MURA::demux {

// Reassembles RHD frames from the words of the stream-id-4 rows and hands each valid frame to
// the RHD listener on its own thread. Row boundaries carry no meaning in this stream: frames
// are found by their 64-bit preamble.
class MURA_EXPORT C_RHD_Worker_Thread {
public:
    static constexpr uint32_t MAX_STREAM_COUNT = RHD_Frame::MAX_STREAM_COUNT;
    static constexpr uint16_t PREAMBLE_FIRST_WORD = 0x2A53;
    static constexpr uint32_t PREAMBLE_WORDS = 4;

    C_RHD_Worker_Thread() = default;
    // Stops and joins a running worker (pushing the zero words that let it finish a frame).
    ~C_RHD_Worker_Thread();
    C_RHD_Worker_Thread(const C_RHD_Worker_Thread&) = delete;
    C_RHD_Worker_Thread& operator=(const C_RHD_Worker_Thread&) = delete;

    void start(const std::string& name);
    // Appends one row's seven words (or any run of words) in one locked operation.
    void push_words(const uint16_t* words, size_t count) { m_queue.push(words, count); }
    // The worker ends after the frame it is parsing; the caller must then push enough words
    // for that frame to complete (a frame of 32 streams is 1,140 words).
    void signal_to_stop();
    // Waits (at most `limit`) until the worker has parsed every word queued and waits for more:
    // once no more words come, every frame they completed has reached the listener.
    void wait_until_idle(std::chrono::milliseconds limit) const;
    bool joinable() const { return m_thread.joinable(); }
    void join();

    void set_listener(std::weak_ptr<I_RHD_Frame_Listener> listener) { m_listener.set(std::move(listener)); }
    std::weak_ptr<I_RHD_Frame_Listener> get_listener() const { return m_listener.get(); }

    // Data streams per frame, taken up from the next frame parsed; at most 32.
    void set_enabled_stream_count(uint32_t count);
    uint32_t get_enabled_stream_count() const { return m_stream_count.load(std::memory_order_relaxed); }

    // Words queued and not yet taken up by the worker.
    size_t queue_element_count() const { return m_queue.size(); }
    uint32_t get_valid_frame_count() const { return m_valid_frame_count.load(std::memory_order_relaxed); }

private:
    void worker_loop();
    bool parse_frame(RHD_Frame& frame);
    bool read_preamble(RHD_Frame& frame);
    const uint16_t* read_streams(RHD_Frame& frame, uint32_t count, const uint16_t* words);
    static bool preamble_at(const uint16_t* words);
    void deliver(const RHD_Frame& frame);
    void end_listener_batch();
    uint16_t pop_word();
    const uint16_t* take_words(size_t count);
    static uint32_t double_word(const uint16_t* words) {
        return words[0] | static_cast<uint32_t>(words[1]) << 16;
    }

    C_RHD_Word_Queue m_queue;
    std::thread m_thread;
    std::atomic<uint32_t> m_stream_count{0};
    C_Listener_Slot<I_RHD_Frame_Listener> m_listener;
    std::string m_name;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_waiting_for_words{false};
    std::atomic<uint32_t> m_valid_frame_count{0};
    uint32_t m_listener_failures = 0;
    uint64_t m_cut_frames = 0;

    // Words taken from the queue in one batch and not parsed yet (worker thread only); it holds
    // three frames of the largest size, which take_words needs in one piece.
    std::array<uint16_t, 4096> m_batch{};
    size_t m_batch_size = 0;
    size_t m_batch_position = 0;
};

} // namespace Selvan::MURA::demux
