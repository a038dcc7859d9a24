#pragma once

#include "Export.h"
#include "I_L1_Demux_ADC_Results.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace Selvan::MURA::demux {

// Decodes the PSB data of one Neuropixels 1.0 probe into frames of 35 ten-bit values.
//
// Block form: a super frame is 13 frames of 5 rows of 7 words W0..W6; each word carries its
// lane tag (1..7 for W0..W6) in bits 15..12 and the value in bits 9..0, and W0 of a super
// frame's first row has bit 11 set. Word-serial form: one word per call with the sync bit in
// bit 15 and seven 2-bit lane slices in bits 13..0; five words make a beat, six beats a frame.
//
// Frame element minor + 5 x lane holds lane `lane` of row (or beat) `minor`.
class MURA_EXPORT NP_PSB_Raw_Data_Demuxer {
public:
    static constexpr uint32_t WORDS_PER_ROW = 7;
    static constexpr uint32_t ROWS_PER_FRAME = 5;
    static constexpr uint32_t FRAMES_PER_SUPER_FRAME = 13;
    static constexpr uint32_t SUPER_FRAME_WORDS = WORDS_PER_ROW * ROWS_PER_FRAME * FRAMES_PER_SUPER_FRAME;
    static constexpr uint32_t SUPER_FRAME_BYTES = 2 * SUPER_FRAME_WORDS;
    static constexpr uint16_t SUPER_FRAME_START = 0x0800;
    static constexpr uint8_t SYNC_PATTERN = 0b10100;

    explicit NP_PSB_Raw_Data_Demuxer(I_L1_Demux_ADC_Results& listener);

    // Decodes whole super frames; the buffer must start at a super-frame start.
    void feed_psb_raw_data_block_buffer(const uint8_t* buffer, uint32_t byte_count);
    // Decodes one word of the word-serial form.
    void feed_psb_raw_data(uint16_t word);
    // The serial entry waits for the next sync pattern; block decoding is not affected.
    void reset_sync();

    // Sync patterns recognised by the serial entry.
    uint32_t get_sync_pattern_count() const { return m_sync_pattern_count.load(std::memory_order_relaxed); }
    // Super frames fully decoded by the block entry.
    uint32_t get_decoded_super_frame_count() const {
        return m_decoded_super_frame_count.load(std::memory_order_relaxed);
    }

private:
    static constexpr uint32_t FRAME_WORDS = WORDS_PER_ROW * ROWS_PER_FRAME;
    static constexpr uint32_t FRAME_BYTES = 2 * FRAME_WORDS;

    bool decode_super_frame(const uint8_t* super_frame);
    static bool tags_match(const uint8_t* words, uint32_t word_count);
    void end_super_frame(const uint8_t* super_frame);
    void place_frame(const uint8_t* frame);
    void place_frame_row_by_row(const uint8_t* frame);
    void load_row(const uint8_t* row);
    void place_row_or_beat();
    void publish();

    ADC_Frame m_adc_frame{};
    uint8_t m_sync_shift_register = 0;
    std::array<uint16_t, WORDS_PER_ROW> m_lane_registers{};
    uint32_t m_beat_word_counter = 0;
    uint32_t m_minor_frame_no = 0;
    uint32_t m_completed_frame_count = 0;
    // Cleared by reset_sync on the controlling thread.
    std::atomic<bool> m_sync_acquired{false};
    I_L1_Demux_ADC_Results& m_listener;
    std::atomic<uint32_t> m_sync_pattern_count{0};
    std::atomic<uint32_t> m_decoded_super_frame_count{0};
};

} // namespace Selvan::MURA::demux
