// The PSB decoder and the channel stage of one port, fed one accumulation buffer of row
// payloads, checked against a straightforward decode written here from the wire format: every
// AP and LFP block the stage publishes must be exactly the reference's. The word-serial entry
// gets the same bytes as words and must only survive them.

#include "CP_L1_ADC_TO_Channel.h"
#include "Fuzz_Support.h"
#include "NP_PSB_Raw_Data_Demuxer.h"

#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using namespace Selvan::MURA;
using namespace Selvan::MURA::demux;

constexpr size_t SUPER_FRAME_BYTES = 910;
constexpr size_t ROW_BYTES = 14;

struct Published {
    std::vector<Channel_Block> ap;
    std::vector<Channel_Block> lfp;
    std::vector<uint64_t> ap_super_frames;
    std::vector<uint64_t> lfp_super_frames;
    bool operator==(const Published&) const = default;
};

class Block_Recorder : public I_L2_Demux_CH_Results {
public:
    void set_super_frame(uint64_t super_frame) override { m_super_frame = super_frame; }
    void publish_ap_ch_data(Channel_Block& block) override {
        blocks.ap.push_back(block);
        blocks.ap_super_frames.push_back(m_super_frame);
    }
    void publish_lp_ch_data(Channel_Block& block) override {
        blocks.lfp.push_back(block);
        blocks.lfp_super_frames.push_back(m_super_frame);
    }
    Published blocks;

private:
    uint64_t m_super_frame = 0;
};

uint16_t word_at(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

// The reference: a super frame is 13 frames of 5 rows of 7 words; word w of row r holds the
// 10-bit value of frame element r + 5 w. Elements 33 and 34 are the frame counter's halves; the
// counter (extended over its 20-bit roll-overs) modulo 13 says which frame of a super frame
// this is: 0 carries LFP slot (counter / 13) mod 12, 1..12 the AP slot 0..11. Sample i of slot
// s is channel 2 s + 24 (i / 2) + i mod 2. A block is published when its last slot is filled
// and all its slots came from its own super frame (AP) or LFP cycle (LFP), with the number of
// the super frame that filled the last.
class Reference_Decoder {
public:
    Published decode(const uint8_t* data, size_t size) {
        if (size < SUPER_FRAME_BYTES || size % SUPER_FRAME_BYTES != 0)
            return {};
        for (size_t offset = 0; offset < size; offset += SUPER_FRAME_BYTES) {
            if ((word_at(data + offset) & 0x0800) == 0)
                break;
            for (size_t frame = 0; frame < 13; ++frame)
                take_frame(data + offset + frame * 5 * ROW_BYTES);
        }
        return m_published;
    }

private:
    void take_frame(const uint8_t* rows) {
        std::array<uint16_t, 35> element{};
        for (size_t row = 0; row < 5; ++row)
            for (size_t word = 0; word < 7; ++word)
                element[row + 5 * word] = word_at(rows + row * ROW_BYTES + 2 * word) & 0x3FF;
        if (element[33] == 0 && m_previous_high == 1023)
            ++m_roll_overs;
        m_previous_high = element[33];
        const uint64_t counter = (m_roll_overs << 20) + element[33] * 1024u + element[34];
        const uint64_t in_super_frame = counter % 13;
        const uint64_t super_frame = counter / 13;
        const bool lfp = in_super_frame == 0;
        const uint64_t slot = lfp ? super_frame % 12 : in_super_frame - 1;
        Channel_Block& block = lfp ? m_lfp : m_ap;
        for (size_t sample = 0; sample < 32; ++sample)
            block[2 * slot + 24 * (sample / 2) + sample % 2] = element[sample];
        const uint64_t owner = lfp ? super_frame / 12 : super_frame;
        Fill& fill = lfp ? m_lfp_fill : m_ap_fill;
        if (fill.owner != owner)
            fill = {owner, 0};
        fill.slots |= 1u << slot;
        if (slot != 11)
            return;
        if (fill.slots == 0xFFF) {
            (lfp ? m_published.lfp : m_published.ap).push_back(block);
            (lfp ? m_published.lfp_super_frames : m_published.ap_super_frames).push_back(super_frame);
        }
        fill.slots = 0;
    }

    struct Fill {
        uint64_t owner = ~uint64_t{0};
        uint32_t slots = 0;
    };
    Channel_Block m_ap{};
    Channel_Block m_lfp{};
    Fill m_ap_fill;
    Fill m_lfp_fill;
    uint64_t m_roll_overs = 0;
    uint16_t m_previous_high = 0;
    Published m_published;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::silence_diagnostics();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An accumulation buffer holds whole super frames: inputs of even length are cut to them,
    // so that most inputs are decoded; odd ones go in as they are and must be refused whole.
    if (size % 2 == 0)
        size -= size % SUPER_FRAME_BYTES;
    const auto recorder = std::make_shared<Block_Recorder>();
    CP_L1_ADC_TO_Channel stage;
    stage.set_l2_ch_result_listener(recorder);
    NP_PSB_Raw_Data_Demuxer decoder(stage);
    decoder.feed_psb_raw_data_block_buffer(data, static_cast<uint32_t>(size));

    const Published expected = Reference_Decoder().decode(data, size);
    fuzzing::require(recorder->blocks.ap == expected.ap, "AP blocks differ from the reference decode");
    fuzzing::require(recorder->blocks.lfp == expected.lfp, "LFP blocks differ from the reference decode");
    fuzzing::require(recorder->blocks == expected, "blocks placed in other super frames than the reference");

    CP_L1_ADC_TO_Channel serial_stage;
    NP_PSB_Raw_Data_Demuxer serial_decoder(serial_stage);
    for (size_t offset = 0; offset + 1 < size; offset += 2)
        serial_decoder.feed_psb_raw_data(word_at(data + offset));
    return 0;
}
