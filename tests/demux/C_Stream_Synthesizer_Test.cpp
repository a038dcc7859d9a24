#include "C_Stream_Synthesizer.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <vector>

namespace Selvan::MURA::synth {
namespace {

struct Parsed_Row {
    uint8_t marker;
    uint8_t id;
    uint8_t counter;
    std::array<uint16_t, 7> words;
};

std::vector<Parsed_Row> parse(const std::vector<uint8_t>& bytes) {
    std::vector<Parsed_Row> rows;
    for (size_t at = 0; at + 16 <= bytes.size(); at += 16) {
        Parsed_Row row{
            static_cast<uint8_t>(bytes[at] >> 4), static_cast<uint8_t>(bytes[at] & 0xF), bytes[at + 1], {}};
        for (int w = 0; w < 7; ++w)
            row.words[w] = static_cast<uint16_t>(bytes[at + 2 + 2 * w] | (bytes[at + 3 + 2 * w] << 8));
        rows.push_back(row);
    }
    return rows;
}

std::vector<Parsed_Row> rows_of(const std::vector<Parsed_Row>& rows, uint8_t id) {
    std::vector<Parsed_Row> selected;
    for (const auto& row : rows)
        if (row.id == id)
            selected.push_back(row);
    return selected;
}

Synth_Settings two_ports() {
    Synth_Settings settings;
    settings.np_ports = {0, 2};
    settings.rhd_stream_count = 3;
    return settings;
}

TEST(StreamSynthesizer, SameSettingsGiveTheSameStreamAndAnotherSeedAnother) {
    C_Stream_Synthesizer a(two_ports()), b(two_ports());
    Synth_Settings other = two_ports();
    other.content.seed = 2;
    C_Stream_Synthesizer c(other);
    const auto bytes = a.next_ticks(20);
    EXPECT_EQ(bytes, b.next_ticks(20));
    EXPECT_NE(bytes, c.next_ticks(20));
}

TEST(StreamSynthesizer, ChunkedFillGivesTheSameBytesAsWholeTicks) {
    C_Stream_Synthesizer whole(two_ports()), chunked(two_ports());
    const auto expected = whole.next_ticks(50);
    std::vector<uint8_t> bytes(expected.size() + 100);
    size_t at = 0;
    for (size_t chunk : {16u, 1000u, 4096u, 33u, 100000u}) {
        at += chunked.fill(bytes.data() + at, std::min(chunk, expected.size() - at));
        if (at == expected.size())
            break;
    }
    at += chunked.fill(bytes.data() + at, expected.size() - at);
    bytes.resize(at);
    EXPECT_EQ(bytes, expected);
}

TEST(StreamSynthesizer, RowsCarryMarkerIdAndConsecutiveCountersPerStream) {
    C_Stream_Synthesizer synthesizer(two_ports());
    const auto rows = parse(synthesizer.next_ticks(10));
    for (uint8_t id : {0, 2, 4}) {
        const auto stream = rows_of(rows, id);
        ASSERT_FALSE(stream.empty());
        for (size_t i = 0; i < stream.size(); ++i) {
            ASSERT_EQ(stream[i].marker, 0xD);
            ASSERT_EQ(stream[i].counter, static_cast<uint8_t>(i));
        }
    }
    EXPECT_EQ(rows_of(rows, 0).size(), 650u);
    EXPECT_TRUE(rows_of(rows, 1).empty());
    // Ten frames of 3 streams: 10 * (20 + 105 + 3) words, in whole rows.
    EXPECT_EQ(rows_of(rows, 4).size(), 1280u / 7);
}

TEST(StreamSynthesizer, SuperFramesCarryTagsStartBitAndFrameCounters) {
    Synth_Settings settings = two_ports();
    settings.first_super_frame = 80000;
    settings.content.np_content = Np_Content::psb_test_pattern;
    C_Stream_Synthesizer synthesizer(settings);
    const auto port = rows_of(parse(synthesizer.next_ticks(2)), 2);
    ASSERT_EQ(port.size(), 130u);
    for (size_t r = 0; r < port.size(); ++r) {
        for (int w = 0; w < 7; ++w)
            ASSERT_EQ(port[r].words[w] >> 12, w + 1);
        ASSERT_EQ((port[r].words[0] & 0x0800) != 0, r % 65 == 0) << "row " << r;
    }
    // Frame 1 of the second super frame: counter 13 * 80001 + 1, in W6 of rows 3 and 4.
    const uint32_t counter = (13 * 80001 + 1) & 0xFFFFF;
    EXPECT_EQ(port[65 + 5 + 3].words[6] & 0x3FF, counter >> 10);
    EXPECT_EQ(port[65 + 5 + 4].words[6] & 0x3FF, counter & 0x3FF);
    // The test pattern fills bits 10..0; its value is the low ten bits.
    EXPECT_EQ(port[5].words[0] & 0x7FF, 0x555);
    EXPECT_EQ(port[5].words[0 + 0] & 0x3FF, synthesizer.content().frame_value(2, 80000, 1, 0));
    EXPECT_EQ(synthesizer.content().ap_value(2, 80000, 0), 0x155);
    EXPECT_EQ(synthesizer.content().ap_value(2, 80000, 1), 0x2AA);
}

TEST(StreamSynthesizer, FaultsAppearWhereAsked) {
    Synth_Settings settings = two_ports();
    settings.faults = {{Fault_Kind::lost_row, 0, 3},
                       {Fault_Kind::counter_jump, 2, 10, 5},
                       {Fault_Kind::bad_marker, 2, 20, 0xA},
                       {Fault_Kind::unknown_stream_id, 0, 7, 9},
                       {Fault_Kind::missing_super_frame_start, 2, 1},
                       {Fault_Kind::bad_lane_tag, 0, 8, 3},
                       {Fault_Kind::broken_preamble, 4, 0, 2}};
    C_Stream_Synthesizer synthesizer(settings);
    const auto rows = parse(synthesizer.next_ticks(2));
    const auto port0 = rows_of(rows, 0);
    ASSERT_EQ(port0.size(), 129u);
    EXPECT_EQ(port0[2].counter, 2);
    EXPECT_EQ(port0[3].counter, 4);
    EXPECT_EQ(port0[7].words[3] >> 12, 0x9);
    const auto port2 = rows_of(rows, 2);
    EXPECT_EQ(port2[9].counter, 9);
    EXPECT_EQ(port2[10].counter, 15);
    EXPECT_EQ(port2[20].marker, 0xA);
    EXPECT_EQ(port2[65].words[0] & 0x0800, 0);
    const auto unknown = rows_of(rows, 9);
    ASSERT_EQ(unknown.size(), 1u);
    const auto rhd = rows_of(rows, 4);
    EXPECT_EQ(rhd[0].words[0], 0x2A53);
    EXPECT_EQ(rhd[0].words[2], 0x0000);
}

TEST(StreamSynthesizer, ChannelMappingInvertsThePositionOfEachSample) {
    for (uint32_t channel = 0; channel < 384; ++channel)
        ASSERT_EQ(C_Synth_Content::channel_of(C_Synth_Content::slot_of(channel),
                                              C_Synth_Content::sample_of(channel)),
                  channel);
}

} // namespace
} // namespace Selvan::MURA::synth
