#include "NP_PSB_Raw_Data_Demuxer.h"

#include "Console.h"
#include "Main_mux_transfer_buffer_wrapper.h"
#include "Vector_Clones.h"

namespace Selvan::MURA::demux {
namespace {

constexpr uint16_t VALUE_MASK = 0x3FF;

} // namespace

NP_PSB_Raw_Data_Demuxer::NP_PSB_Raw_Data_Demuxer(I_L1_Demux_ADC_Results& listener)
    : m_listener(listener) {}

void NP_PSB_Raw_Data_Demuxer::feed_psb_raw_data_block_buffer(const uint8_t* buffer, uint32_t byte_count) {
    if (byte_count < SUPER_FRAME_BYTES) {
        console::err("Buffer size should contain at least (13 * 35) = 455 words\n");
        return;
    }
    if (byte_count % SUPER_FRAME_BYTES != 0) {
        console::err("Buffer size should divisible with 455 words\n");
        return;
    }
    for (uint32_t offset = 0; offset < byte_count; offset += SUPER_FRAME_BYTES) {
        // The buffer was filled by another thread and is not in this core's cache: the super
        // frame after next is asked for while this one is decoded.
        if (offset + 3 * SUPER_FRAME_BYTES <= byte_count) {
            for (uint32_t line = 0; line < SUPER_FRAME_BYTES; line += 64)
                __builtin_prefetch(buffer + offset + 2 * SUPER_FRAME_BYTES + line, 0, 0);
        }
        if (!decode_super_frame(buffer + offset))
            return;
    }
}

// The lane tags of `word_count` words (a frame, 35, or a super frame, 455) in one pass, without
// a branch per word. A frame with a wrong tag is decoded row by row, which reports each wrong
// word. Defined before its first use: a function built in several versions must be marked so
// before any call to it.
NP3_VECTOR_CLONES bool NP_PSB_Raw_Data_Demuxer::tags_match(const uint8_t* words, uint32_t word_count) {
    static constexpr auto expected_tags = [] {
        std::array<uint16_t, SUPER_FRAME_WORDS> tags{};
        for (uint32_t word = 0; word < SUPER_FRAME_WORDS; ++word)
            tags[word] = static_cast<uint16_t>(word % WORDS_PER_ROW + 1);
        return tags;
    }();
    uint16_t mismatch = 0;
    for (uint32_t word = 0; word < word_count; ++word)
        mismatch |= static_cast<uint16_t>((read_word(words + 2 * word) >> 12) ^ expected_tags[word]);
    return mismatch == 0;
}

// Only the first row of a super frame is checked for the start bit: once aligned, the layout
// is fixed, and bit 11 of later rows carries no meaning.
bool NP_PSB_Raw_Data_Demuxer::decode_super_frame(const uint8_t* super_frame) {
    if ((read_word(super_frame) & SUPER_FRAME_START) == 0) {
        console::err("Super frame align failure\n");
        return false;
    }
    if (tags_match(super_frame, SUPER_FRAME_WORDS) && m_listener.publish_psb_super_frame(super_frame)) {
        end_super_frame(super_frame);
        return true;
    }
    const uint8_t* frame = super_frame;
    for (uint32_t f = 0; f < FRAMES_PER_SUPER_FRAME; ++f) {
        if (!tags_match(frame, FRAME_WORDS)) {
            place_frame_row_by_row(frame);
            publish();
        } else if (!m_listener.publish_psb_frame(frame)) {
            place_frame(frame);
            publish();
        }
        frame += FRAME_BYTES;
    }
    end_super_frame(super_frame);
    return true;
}

// The registers end as the row-by-row decoding leaves them.
void NP_PSB_Raw_Data_Demuxer::end_super_frame(const uint8_t* super_frame) {
    const uint8_t* last_row = super_frame + SUPER_FRAME_BYTES - 2 * WORDS_PER_ROW;
    for (uint32_t lane = 0; lane < WORDS_PER_ROW; ++lane)
        m_lane_registers[lane] = read_word(last_row + 2 * lane);
    m_minor_frame_no = ROWS_PER_FRAME - 1;
    m_decoded_super_frame_count.fetch_add(1, std::memory_order_relaxed);
}

void NP_PSB_Raw_Data_Demuxer::place_frame(const uint8_t* frame) {
    for (uint32_t minor = 0; minor < ROWS_PER_FRAME; ++minor) {
        for (uint32_t lane = 0; lane < WORDS_PER_ROW; ++lane)
            m_adc_frame[minor + ROWS_PER_FRAME * lane] =
                read_word(frame + 2 * (WORDS_PER_ROW * minor + lane)) & VALUE_MASK;
    }
}

void NP_PSB_Raw_Data_Demuxer::place_frame_row_by_row(const uint8_t* frame) {
    for (uint32_t minor = 0; minor < ROWS_PER_FRAME; ++minor) {
        load_row(frame + 2 * WORDS_PER_ROW * minor);
        m_minor_frame_no = minor;
        place_row_or_beat();
    }
}

// A word whose lane tag is wrong is reported and used all the same: the tag only guards
// against a slipped lane, the value bits are still the best data there is.
void NP_PSB_Raw_Data_Demuxer::load_row(const uint8_t* row) {
    for (uint32_t lane = 0; lane < WORDS_PER_ROW; ++lane) {
        const uint16_t word = read_word(row + 2 * lane);
        if ((word >> 12) != lane + 1)
            console::err("Warning shift reg mismatch\n");
        m_lane_registers[lane] = word;
    }
}

void NP_PSB_Raw_Data_Demuxer::place_row_or_beat() {
    if (m_minor_frame_no > 5) {
        console::err("minor_frame_no > 5\n");
        return;
    }
    if (m_minor_frame_no < ROWS_PER_FRAME) {
        for (uint32_t lane = 0; lane < WORDS_PER_ROW; ++lane)
            m_adc_frame[m_minor_frame_no + ROWS_PER_FRAME * lane] = m_lane_registers[lane] & VALUE_MASK;
        return;
    }
    // The sixth beat of a serial frame is a gap that must carry zeros in every lane.
    for (uint32_t lane = 0; lane < WORDS_PER_ROW; ++lane) {
        if ((m_lane_registers[lane] & VALUE_MASK) != 0) {
            console::err("not zero beat on frame 5\n");
            return;
        }
    }
}

void NP_PSB_Raw_Data_Demuxer::publish() {
    m_listener.publish_adc_data(m_adc_frame);
}

void NP_PSB_Raw_Data_Demuxer::feed_psb_raw_data(uint16_t word) {
    m_sync_shift_register = static_cast<uint8_t>((m_sync_shift_register << 1) | (word >> 15));
    if ((m_sync_shift_register & 0x1F) == SYNC_PATTERN) {
        m_sync_pattern_count.fetch_add(1, std::memory_order_relaxed);
        if (!m_sync_acquired)
            console::out("Initial PSB Frame sync aquired\n");
        m_sync_acquired = true;
        if (m_minor_frame_no != 0)
            console::out("Resync_1\n");
        m_minor_frame_no = 0;
        if (m_beat_word_counter != 0)
            console::out("Resync_2\n");
        m_beat_word_counter = 0;
    }
    for (uint32_t lane = 0; lane < WORDS_PER_ROW; ++lane) {
        const uint16_t slice = (word >> (12 - 2 * lane)) & 0x3;
        m_lane_registers[lane] = static_cast<uint16_t>((m_lane_registers[lane] << 2) | slice);
    }
    if (!m_sync_acquired)
        return;
    if (m_beat_word_counter == 0) {
        place_row_or_beat();
        if (m_minor_frame_no == 4)
            publish();
        if (++m_minor_frame_no == 6) {
            ++m_completed_frame_count;
            m_minor_frame_no = 0;
        }
    }
    if (++m_beat_word_counter == 5)
        m_beat_word_counter = 0;
}

void NP_PSB_Raw_Data_Demuxer::reset_sync() {
    m_sync_acquired = false;
}

} // namespace Selvan::MURA::demux
