// The RHD frame parser on its worker thread, fed arbitrary words. The frames it delivers must
// be the first frames a straightforward parse of the same words finds (the worker may stop
// before it has parsed them all), and it must end after the stop words without hanging.

#include "C_RHD_Worker_Thread.h"
#include "Fuzz_Support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace Selvan::MURA;
using namespace Selvan::MURA::demux;

// What the worker pushes behind its stop flag: enough zero words to finish any frame.
constexpr size_t STOP_WORDS = 7840;

struct Frame_Record {
    uint64_t preamble;
    uint32_t timestamp;
    std::vector<std::array<uint16_t, RHD_Frame::SLOTS_PER_STREAM>> streams;
    std::array<uint16_t, 8> auxiliary;
    uint32_t ttl_in;
    uint32_t ttl_out;
    bool operator==(const Frame_Record&) const = default;
};

class Frame_Recorder : public I_RHD_Frame_Listener {
public:
    void on_rhd_frame(const RHD_Frame& frame) override {
        Frame_Record record{frame.preamble,  frame.timestamp, {},
                            frame.auxiliary, frame.ttl_in,    frame.ttl_out};
        record.streams.assign(frame.streams.begin(), frame.streams.begin() + frame.stream_count);
        std::lock_guard lock(mutex);
        frames.push_back(std::move(record));
    }
    std::mutex mutex;
    std::vector<Frame_Record> frames;
};

// The reference: a frame is the preamble 0x2A53 0x3813 0x2AAA 0xD7A2 (a word other than 0x2A53
// where a frame should start begins a search for it), the timestamp (two words, low first), 35
// slots of N interleaved stream words, N mod 4 filler words, two unused words, eight auxiliary
// words, TTL in and TTL out (two words each). A frame with a wrong preamble is dropped and the
// parse goes on right after the preamble's four words.
class Reference_Parser {
public:
    Reference_Parser(const std::vector<uint16_t>& words, uint32_t streams)
        : m_words(words)
        , m_streams(streams) {}

    std::vector<Frame_Record> parse() {
        std::vector<Frame_Record> frames;
        while (true) {
            while (m_next < m_words.size() && m_words[m_next] != 0x2A53)
                ++m_next;
            if (m_words.size() - m_next < RHD_Frame::word_count(m_streams))
                return frames;
            Frame_Record frame{};
            for (int i = 0; i < 4; ++i)
                frame.preamble |= static_cast<uint64_t>(take()) << (16 * i);
            if (frame.preamble != RHD_Frame::PREAMBLE)
                continue;
            frame.timestamp = take_double_word();
            frame.streams.resize(m_streams);
            for (uint32_t slot = 0; slot < RHD_Frame::SLOTS_PER_STREAM; ++slot)
                for (uint32_t stream = 0; stream < m_streams; ++stream)
                    frame.streams[stream][slot] = take();
            m_next += m_streams % 4 + 2;
            for (uint16_t& word : frame.auxiliary)
                word = take();
            frame.ttl_in = take_double_word();
            frame.ttl_out = take_double_word();
            frames.push_back(std::move(frame));
        }
    }

private:
    uint16_t take() { return m_words[m_next++]; }
    uint32_t take_double_word() {
        const uint32_t low = take();
        return low | static_cast<uint32_t>(take()) << 16;
    }

    const std::vector<uint16_t>& m_words;
    uint32_t m_streams;
    size_t m_next = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::silence_diagnostics();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const uint32_t streams = input.ConsumeIntegralInRange<uint32_t>(0, RHD_Frame::MAX_STREAM_COUNT);
    std::vector<uint16_t> words;
    while (input.remaining_bytes() >= 2)
        words.push_back(input.ConsumeIntegral<uint16_t>());

    const auto recorder = std::make_shared<Frame_Recorder>();
    {
        C_RHD_Worker_Thread worker;
        worker.set_enabled_stream_count(streams);
        worker.set_listener(recorder);
        worker.start("RHD");
        worker.push_words(words.data(), words.size());
        // Let the worker take up the words before it is told to stop, so that it parses them.
        for (int spin = 0; spin < 10000 && worker.queue_element_count() > 0; ++spin)
            std::this_thread::yield();
        worker.signal_to_stop();
        const std::vector<uint16_t> zeros(STOP_WORDS, 0);
        worker.push_words(zeros.data(), zeros.size());
        worker.join();
    }
    words.insert(words.end(), STOP_WORDS, 0);
    const std::vector<Frame_Record> expected = Reference_Parser(words, streams).parse();
    fuzzing::require(recorder->frames.size() <= expected.size(), "more RHD frames than the reference parse");
    for (size_t i = 0; i < recorder->frames.size(); ++i)
        fuzzing::require(recorder->frames[i] == expected[i], "an RHD frame differs from the reference parse");
    return 0;
}
