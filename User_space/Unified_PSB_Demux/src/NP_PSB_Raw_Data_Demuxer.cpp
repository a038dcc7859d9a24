#include "NP_PSB_Raw_Data_Demuxer.h"

#include "Console.h"
#include "Main_mux_transfer_buffer_wrapper.h"

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
        if (!decode_super_frame(buffer + offset))
            return;
    }
}

// Only the first row of a super frame is checked for the start bit: once aligned, the layout
// is fixed, and bit 11 of later rows carries no meaning.
bool NP_PSB_Raw_Data_Demuxer::decode_super_frame(const uint8_t* super_frame) {
    if ((read_word(super_frame) & SUPER_FRAME_START) == 0) {
        console::err("Super frame align failure\n");
        return false;
    }
    const uint8_t* row = super_frame;
    for (uint32_t frame = 0; frame < FRAMES_PER_SUPER_FRAME; ++frame) {
        for (uint32_t minor = 0; minor < ROWS_PER_FRAME; ++minor) {
            load_row(row);
            m_minor_frame_no = minor;
            place_row_or_beat();
            row += 2 * WORDS_PER_ROW;
        }
        publish();
    }
    m_decoded_super_frame_count.fetch_add(1, std::memory_order_relaxed);
    return true;
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
