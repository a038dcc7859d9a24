#include "C_Looped_Stream_Synthesizer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

namespace Selvan::MURA::synth {
namespace {

std::vector<uint8_t> looped_ticks(C_Looped_Stream_Synthesizer& looped, uint64_t ticks) {
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> tick(looped.max_tick_bytes());
    for (uint64_t i = 0; i < ticks; ++i) {
        const size_t size = looped.render_tick(tick.data());
        bytes.insert(bytes.end(), tick.begin(), tick.begin() + static_cast<long>(size));
    }
    return bytes;
}

// Where the content repeats within the loop, the looped stream is the synthesizer's byte for
// byte: across the loop's end, the blocks in which the counter content's higher digits change,
// a skip and a restart of the frame counters, with RHD frames of three data streams running on
// across ticks.
TEST(LoopedStreamSynthesizer, PeriodicContentIsTheSynthesizersStreamByteForByte) {
    for (Np_Content content : {Np_Content::ramp, Np_Content::counter, Np_Content::psb_test_pattern}) {
        for (uint64_t first : {uint64_t{12288 - 40}, (uint64_t{1} << 30) + (uint64_t{1} << 20) - 30}) {
            SCOPED_TRACE(::testing::Message()
                         << "content " << static_cast<int>(content) << ", first " << first);
            Synth_Settings settings;
            settings.content.np_content = content;
            settings.np_ports = {1, 3, 0};
            settings.rhd_stream_count = 3;
            settings.first_super_frame = first;
            C_Stream_Synthesizer synthesizer(settings);
            C_Looped_Stream_Synthesizer looped(settings);
            EXPECT_EQ(looped_ticks(looped, 70), synthesizer.next_ticks(70));
            synthesizer.skip_ticks(5);
            looped.skip_ticks(5);
            EXPECT_EQ(looped.restart_frame_counters(), synthesizer.restart_frame_counters());
            EXPECT_EQ(looped_ticks(looped, 30), synthesizer.next_ticks(30));
        }
    }
}

// Neural content does not repeat: the ports read one loop at places apart, so they differ at
// any moment, and the first port's stream begins as the synthesizer's.
TEST(LoopedStreamSynthesizer, NeuralPortsDifferAndTheFirstBeginsAsTheSynthesizer) {
    Synth_Settings settings;
    settings.np_ports = {0};
    C_Stream_Synthesizer synthesizer(settings);
    C_Looped_Stream_Synthesizer looped(settings);
    EXPECT_EQ(looped_ticks(looped, 24), synthesizer.next_ticks(24));

    settings.np_ports = {0, 1};
    settings.rhd = false;
    C_Looped_Stream_Synthesizer two(settings);
    const std::vector<uint8_t> tick = looped_ticks(two, 1);
    int differing = 0;
    for (size_t row = 0; row + 32 <= tick.size(); row += 32)
        differing += std::memcmp(&tick[row + 2], &tick[row + 18], 14) != 0;
    EXPECT_GT(differing, 40);
}

// A virtual box that closes while its loops are rendered does not wait for them.
TEST(LoopedStreamSynthesizer, RenderingStopsWhenCancelled) {
    const std::atomic<bool> cancel{true};
    EXPECT_EQ(C_Looped_Stream_Synthesizer(Synth_Settings{}, &cancel).loop_bytes(), 0u);
}

} // namespace
} // namespace Selvan::MURA::synth
