#include "C_RHD_Worker_Thread.h"

#include "Console.h"
#include "Log.h"
#include "Thread_Name.h"

#include <algorithm>
#include <vector>

namespace Selvan::MURA::demux {

C_RHD_Worker_Thread::~C_RHD_Worker_Thread() {
    if (!m_thread.joinable())
        return;
    signal_to_stop();
    const std::vector<uint16_t> zeros(8 * RHD_Frame::word_count(MAX_STREAM_COUNT), 0);
    push_words(zeros.data(), zeros.size());
    m_thread.join();
}

void C_RHD_Worker_Thread::start(const std::string& name) {
    if (m_thread.joinable()) {
        logging::warning("RHD worker thread %s already started", m_name);
        return;
    }
    m_name = name;
    logging::info("Starting RHD worker thread : %s", m_name);
    m_thread = std::thread([this] {
        name_this_thread(("np3 " + m_name).c_str());
        worker_loop();
    });
}

void C_RHD_Worker_Thread::signal_to_stop() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "signal_to_stop");
    m_stop = true;
}

void C_RHD_Worker_Thread::wait_until_idle(std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!(m_waiting_for_words && m_queue.size() == 0) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

void C_RHD_Worker_Thread::join() {
    if (m_thread.joinable())
        m_thread.join();
}

// A frame holds 35 words per stream and the box has 32 RHD data streams at most; a larger
// count would make every frame swallow the following ones.
void C_RHD_Worker_Thread::set_enabled_stream_count(uint32_t count) {
    if (count > MAX_STREAM_COUNT) {
        console::err("RHD stream count {} exceeds {}, using {}\n", count, MAX_STREAM_COUNT, MAX_STREAM_COUNT);
        count = MAX_STREAM_COUNT;
    }
    m_stream_count = count;
}

void C_RHD_Worker_Thread::worker_loop() {
    logging::info("RHD Worker thread started");
    uint16_t iteration = 0;
    uint32_t valid_frames_this_run = 0;
    RHD_Frame frame;
    while (!m_stop) {
        if (parse_frame(frame)) {
            ++valid_frames_this_run;
            deliver(frame);
        }
        if (iteration == 0)
            console::out("{} worker, processed valid frames : {}, queue element count : {}\n", m_name,
                         valid_frames_this_run, queue_element_count());
        ++iteration;
    }
    logging::info("RHD Worker thread end");
}

// A listener that throws loses that frame only; the worker must go on so that the stream
// behind it keeps flowing and the stop request is still seen.
void C_RHD_Worker_Thread::deliver(const RHD_Frame& frame) {
    auto listener = m_listener.lock();
    if (!listener) {
        console::out("There is no RHD frame listener\n");
        return;
    }
    try {
        listener->on_rhd_frame(frame);
    } catch (const std::exception& e) {
        if (m_listener_failures++ % 65536 == 0)
            console::err("RHD frame listener failed ({} times) : {}\n", m_listener_failures, e.what());
    }
}

// Behind the preamble the frame's words are taken from the batch in one piece, so they are read
// in place rather than one call per word. The stream count is read once per frame.
//
// A frame counts only when the next frame's preamble follows it: rows lost on the way (the box
// dropped data, a row went missing) cut a frame short, and it would swallow the start of the
// next one and carry its words as auxiliary inputs and TTL words. Such a frame is dropped and
// the next preamble searched for from just behind the dropped frame's own.
bool C_RHD_Worker_Thread::parse_frame(RHD_Frame& frame) {
    if (!read_preamble(frame))
        return false;
    const uint32_t count = m_stream_count.load(std::memory_order_relaxed);
    const size_t body = RHD_Frame::word_count(count) - PREAMBLE_WORDS;
    const uint16_t* words = take_words(body + PREAMBLE_WORDS);
    m_batch_position -= PREAMBLE_WORDS;
    if (!preamble_at(words + body)) {
        m_batch_position -= body;
        if (!m_stop && m_cut_frames++ % 1024 == 0)
            console::err("RHD frame cut short ({} so far): dropped, the next frame is searched for\n",
                         m_cut_frames);
        return false;
    }
    frame.timestamp = double_word(words);
    words = read_streams(frame, count, words + 2);
    words += count % 4 + 2;
    std::copy(words, words + frame.auxiliary.size(), frame.auxiliary.begin());
    words += frame.auxiliary.size();
    frame.ttl_in = double_word(words);
    frame.ttl_out = double_word(words + 2);
    m_valid_frame_count.fetch_add(1, std::memory_order_relaxed);
    return true;
}

// Out of step, the worker searches word by word for the preamble's first word; the whole
// preamble is checked afterwards. The stop request ends the search so that shutdown never
// waits for a preamble that will not come.
bool C_RHD_Worker_Thread::read_preamble(RHD_Frame& frame) {
    uint16_t word = pop_word();
    if (word != PREAMBLE_FIRST_WORD) {
        console::err("Resync warning 1\n");
        while (!m_stop) {
            word = pop_word();
            if (word == PREAMBLE_FIRST_WORD)
                break;
        }
        console::out("Resync info 1\n");
    }
    uint64_t preamble = word;
    for (int i = 1; i < static_cast<int>(PREAMBLE_WORDS); ++i)
        preamble |= static_cast<uint64_t>(pop_word()) << (16 * i);
    frame.preamble = preamble;
    if (preamble != RHD_Frame::PREAMBLE) {
        console::err("invalid RHD frame preamble \n");
        return false;
    }
    return true;
}

// The frame record is reused: arrays of streams no longer present are cleared so that they
// read as absent. The slots are interleaved on the wire: slot 0 of every stream, then slot 1.
const uint16_t* C_RHD_Worker_Thread::read_streams(RHD_Frame& frame, uint32_t count, const uint16_t* words) {
    for (uint32_t s = count; s < frame.stream_count; ++s)
        frame.streams[s].fill(0);
    frame.stream_count = count;
    for (uint32_t slot = 0; slot < RHD_Frame::SLOTS_PER_STREAM; ++slot) {
        for (uint32_t s = 0; s < count; ++s)
            frame.streams[s][slot] = *words++;
    }
    return words;
}

bool C_RHD_Worker_Thread::preamble_at(const uint16_t* words) {
    uint64_t preamble = 0;
    for (uint32_t i = 0; i < PREAMBLE_WORDS; ++i)
        preamble |= static_cast<uint64_t>(words[i]) << (16 * i);
    return preamble == RHD_Frame::PREAMBLE;
}

uint16_t C_RHD_Worker_Thread::pop_word() {
    return *take_words(1);
}

void C_RHD_Worker_Thread::end_listener_batch() {
    if (auto listener = m_listener.lock()) {
        try {
            listener->end_batch();
        } catch (const std::exception& e) {
            console::err("RHD frame listener failed at the end of a batch : {}\n", e.what());
        }
    }
}

// The next `count` words, contiguous in the batch: what is left of the batch moves to its
// front and the queue fills the rest, blocking until enough words have come. The frames of
// the words parsed so far are the listener's batch.
const uint16_t* C_RHD_Worker_Thread::take_words(size_t count) {
    if (m_batch_size - m_batch_position < count) {
        end_listener_batch();
        const size_t kept = m_batch_size - m_batch_position;
        std::copy(m_batch.begin() + m_batch_position, m_batch.begin() + m_batch_size, m_batch.begin());
        m_batch_size = kept;
        m_batch_position = 0;
        while (m_batch_size < count) {
            m_waiting_for_words = m_queue.size() == 0;
            m_batch_size += m_queue.pop_batch(m_batch.data() + m_batch_size, m_batch.size() - m_batch_size);
            m_waiting_for_words = false;
        }
    }
    const uint16_t* words = m_batch.data() + m_batch_position;
    m_batch_position += count;
    return words;
}

} // namespace Selvan::MURA::demux
