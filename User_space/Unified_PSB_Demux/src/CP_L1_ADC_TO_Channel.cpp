#include "CP_L1_ADC_TO_Channel.h"

#include "Console.h"
#include "Main_mux_transfer_buffer_wrapper.h"

namespace Selvan::MURA::demux {
namespace {

constexpr uint32_t COUNTER_HIGH_ELEMENT = 33;
constexpr uint32_t COUNTER_LOW_ELEMENT = 34;
constexpr uint32_t TWO_PART_COUNTER_MAX = 0xFFFFF;
constexpr uint16_t SAMPLE_MASK = 0x3FF;
// The rows' words that hold elements 33 and 34 (element e is word 7 (e mod 5) + e / 5).
constexpr uint32_t COUNTER_HIGH_WORD = 7 * (COUNTER_HIGH_ELEMENT % 5) + COUNTER_HIGH_ELEMENT / 5;
constexpr uint32_t COUNTER_LOW_WORD = 7 * (COUNTER_LOW_ELEMENT % 5) + COUNTER_LOW_ELEMENT / 5;
constexpr uint32_t FRAME_BYTES = 70; // 5 rows of 7 words

// A super frame's first frame carries the LFP samples and fills the LFP block's slot (super
// frame number mod 12); its frames 1 to 12 fill the AP block's slots 0 to 11.
constexpr uint32_t slot_of(uint32_t frame_in_super_frame, uint64_t super_frame_number) {
    return frame_in_super_frame == 0 ? static_cast<uint32_t>(super_frame_number % CP_L1_ADC_TO_Channel::SLOTS)
                                     : frame_in_super_frame - 1;
}

} // namespace

void CP_L1_ADC_TO_Channel::publish_adc_data(const ADC_Frame& adc) {
    check_frame_number_continuity(adc[COUNTER_HIGH_ELEMENT], adc[COUNTER_LOW_ELEMENT]);
    place(adc, extend_frame_counter(adc[COUNTER_HIGH_ELEMENT], adc[COUNTER_LOW_ELEMENT]));
    ++m_published_frame_count;
}

// Element e of the frame is word 7 (e mod 5) + e / 5 of its rows.
bool CP_L1_ADC_TO_Channel::publish_psb_frame(const uint8_t* rows) {
    const uint16_t high = read_word(rows + 2 * COUNTER_HIGH_WORD) & SAMPLE_MASK;
    const uint16_t low = read_word(rows + 2 * COUNTER_LOW_WORD) & SAMPLE_MASK;
    check_frame_number_continuity(high, low);
    place_from_rows(rows, extend_frame_counter(high, low));
    ++m_published_frame_count;
    return true;
}

void CP_L1_ADC_TO_Channel::place(const ADC_Frame& adc, uint64_t position) {
    const uint32_t frame_in_super_frame = static_cast<uint32_t>(position % FRAMES_PER_SUPER_FRAME);
    const uint64_t super_frame = position / FRAMES_PER_SUPER_FRAME;
    const uint32_t slot = slot_of(frame_in_super_frame, super_frame);
    const bool lfp = frame_in_super_frame == 0;
    scatter_frame(adc, slot, lfp ? m_lfp_block : m_ap_block);
    slot_filled(super_frame, slot, lfp);
}

// A super frame whose 13 counters run on from the last frame, with no roll-over inside it and
// no jump of the extended counter, is placed in one go: no check and no message can differ
// from the frame-by-frame path, which takes every other super frame.
bool CP_L1_ADC_TO_Channel::publish_psb_super_frame(const uint8_t* frames) {
    const uint32_t first = m_prev_two_part_counter + 1;
    for (uint32_t f = 0; f < FRAMES_PER_SUPER_FRAME; ++f) {
        const uint8_t* rows = frames + f * FRAME_BYTES;
        const uint32_t counter = (read_word(rows + 2 * COUNTER_HIGH_WORD) & SAMPLE_MASK) * 1024u +
                                 (read_word(rows + 2 * COUNTER_LOW_WORD) & SAMPLE_MASK);
        if (counter != first + f)
            return false;
    }
    const uint32_t extended_first = extended_counter(first);
    if (extended_first != m_prev_dw_counter + 1)
        return false;
    const uint64_t position = (m_position_high_part.load(std::memory_order_relaxed) << 20) + first;
    uint32_t frame_in_super_frame = static_cast<uint32_t>(position % FRAMES_PER_SUPER_FRAME);
    uint64_t super_frame_number = position / FRAMES_PER_SUPER_FRAME;
    for (uint32_t f = 0; f < FRAMES_PER_SUPER_FRAME; ++f) {
        // The counters move on before the frame is placed and the frame is counted after, as
        // frame by frame: a listener that throws leaves the same state behind.
        m_prev_two_part_counter = first + f;
        m_prev_counter_high_word = static_cast<uint16_t>((first + f) >> 10);
        m_prev_dw_counter = extended_first + f;
        place_rows(frames + f * FRAME_BYTES, super_frame_number,
                   slot_of(frame_in_super_frame, super_frame_number), frame_in_super_frame == 0);
        ++m_published_frame_count;
        if (++frame_in_super_frame == FRAMES_PER_SUPER_FRAME) {
            frame_in_super_frame = 0;
            ++super_frame_number;
        }
    }
    return true;
}

uint32_t CP_L1_ADC_TO_Channel::extended_counter(uint32_t two_part_counter) const {
    return (static_cast<uint32_t>(m_three_word_counter_high_part.load(std::memory_order_relaxed)) << 20) +
           two_part_counter;
}

void CP_L1_ADC_TO_Channel::place_from_rows(const uint8_t* rows, uint64_t position) {
    const uint32_t frame_in_super_frame = static_cast<uint32_t>(position % FRAMES_PER_SUPER_FRAME);
    const uint64_t super_frame = position / FRAMES_PER_SUPER_FRAME;
    place_rows(rows, super_frame, slot_of(frame_in_super_frame, super_frame), frame_in_super_frame == 0);
}

// The frame's 32 samples go from the rows straight to their channels: sample s is word
// 7 (s mod 5) + s / 5, and goes to channel_of(slot, s).
void CP_L1_ADC_TO_Channel::place_rows(const uint8_t* rows, uint64_t super_frame, uint32_t slot, bool lfp) {
    static constexpr auto word_of_sample = [] {
        std::array<uint8_t, SAMPLES_PER_FRAME> words{};
        for (uint32_t sample = 0; sample < SAMPLES_PER_FRAME; ++sample)
            words[sample] = static_cast<uint8_t>(7 * (sample % 5) + sample / 5);
        return words;
    }();
    uint16_t* pair = (lfp ? m_lfp_block : m_ap_block).data() + 2 * slot;
    for (uint32_t k = 0; k < SAMPLES_PER_FRAME / 2; ++k) {
        pair[24 * k] = read_word(rows + 2 * word_of_sample[2 * k]) & SAMPLE_MASK;
        pair[24 * k + 1] = read_word(rows + 2 * word_of_sample[2 * k + 1]) & SAMPLE_MASK;
    }
    slot_filled(super_frame, slot, lfp);
}

// An AP block's slots come from one super frame, an LFP block's from the 12 super frames of one
// LFP cycle; the last slot completes the block, which goes on only if all its slots came.
void CP_L1_ADC_TO_Channel::slot_filled(uint64_t super_frame, uint32_t slot, bool lfp) {
    constexpr uint32_t ALL_SLOTS = (1u << SLOTS) - 1;
    Block_Fill& fill = lfp ? m_lfp_fill : m_ap_fill;
    const uint64_t owner = lfp ? super_frame / SLOTS : super_frame;
    if (fill.owner != owner) {
        fill.owner = owner;
        fill.slots = 0;
    }
    fill.slots |= 1u << slot;
    if (slot != SLOTS - 1)
        return;
    const bool complete = fill.slots == ALL_SLOTS;
    fill.slots = 0;
    if (complete)
        publish_block(!lfp, super_frame);
    else
        m_incomplete_blocks.fetch_add(1, std::memory_order_relaxed);
}

void CP_L1_ADC_TO_Channel::check_frame_number_continuity(uint16_t high, uint16_t low) {
    const uint32_t counter = high * 1024u + low;
    if (counter != m_prev_two_part_counter + 1) {
        if (counter == 0 && m_prev_two_part_counter == TWO_PART_COUNTER_MAX)
            console::out("frame_number rolled : {}, prev count : {}\n", counter, m_prev_two_part_counter);
        else
            console::err("check_frame_number_continuity failed, current counter (two part) : {} {}, prev "
                         "counter : {}\n",
                         high, low, m_prev_two_part_counter);
    }
    m_prev_two_part_counter = counter;
}

// Extends the 20-bit frame counter by counting its roll-overs. Messages name the 32-bit
// extended counter; the returned position is the same count without the 32-bit wrap.
uint64_t CP_L1_ADC_TO_Channel::extend_frame_counter(uint16_t high, uint16_t low) {
    const uint16_t high_word = high & 0x3FF;
    const uint32_t low20 = high_word * 1024u + (low & 0x3FF);
    if (high_word == 0 && m_prev_counter_high_word == 1023) {
        console::out("Incrementing m_three_word_counter_high_part\n");
        m_three_word_counter_high_part.fetch_add(1, std::memory_order_relaxed);
        m_position_high_part.fetch_add(1, std::memory_order_relaxed);
    }
    m_prev_counter_high_word = high_word;
    const uint32_t dw_counter =
        (static_cast<uint32_t>(m_three_word_counter_high_part.load(std::memory_order_relaxed)) << 20) + low20;
    if (dw_counter != m_prev_dw_counter + 1)
        console::err(" stream DW counter discontiutiy. Prev DW counter : {}, current DW counter : {}\n",
                     m_prev_dw_counter, dw_counter);
    m_prev_dw_counter = dw_counter;
    return (m_position_high_part.load(std::memory_order_relaxed) << 20) + low20;
}

// Sample pairs 2k, 2k + 1 go to channels 2 slot + 24 k and the one after it (channel_of).
void CP_L1_ADC_TO_Channel::scatter_frame(const ADC_Frame& adc, uint32_t slot, Channel_Block& block) {
    uint16_t* pair = block.data() + 2 * slot;
    for (uint32_t k = 0; k < SAMPLES_PER_FRAME / 2; ++k) {
        pair[24 * k] = adc[2 * k];
        pair[24 * k + 1] = adc[2 * k + 1];
    }
}

void CP_L1_ADC_TO_Channel::publish_block(bool ap, uint64_t super_frame) {
    pass_block_on_within_batch(
        m_in_batch, [&] { pass_block_on(ap, super_frame); }, [this] { let_go_of_listener(); });
}

void CP_L1_ADC_TO_Channel::pass_block_on(bool ap, uint64_t super_frame) {
    I_L2_Demux_CH_Results* listener = listener_for_block();
    if (!listener) {
        console::err(ap ? "publish_ap_ch_data destination it not alive\n"
                        : "publish_lp_ch_data destination it not alive\n");
        return;
    }
    listener->set_super_frame(super_frame);
    if (ap)
        listener->publish_ap_ch_data(m_ap_block);
    else
        listener->publish_lp_ch_data(m_lfp_block);
}

// Locking the weak reference costs a lock and two atomic operations on its count, 32,500 times
// a second per port; a held listener costs one atomic load per block.
I_L2_Demux_CH_Results* CP_L1_ADC_TO_Channel::listener_for_block() {
    const uint64_t generation = m_l2_listener.generation();
    if (m_listener_held && generation == m_held_generation)
        return m_held_listener.get();
    let_go_of_listener();
    m_held_listener = m_l2_listener.lock();
    m_held_generation = generation;
    m_listener_held = true;
    if (m_held_listener)
        m_held_listener->begin_batch();
    return m_held_listener.get();
}

void CP_L1_ADC_TO_Channel::let_go_of_listener() {
    if (m_held_listener)
        m_held_listener->end_batch();
    m_held_listener.reset();
    m_listener_held = false;
}

void CP_L1_ADC_TO_Channel::end_batch() {
    m_in_batch = false;
    let_go_of_listener();
}

void CP_L1_ADC_TO_Channel::reset_and_resync_counters() {
    m_three_word_counter_high_part = 0;
    m_position_high_part = 0;
    console::out("reset_and_resync_counters requested.\n");
}

void CP_L1_ADC_TO_Channel::set_l2_ch_result_listener(std::weak_ptr<I_L2_Demux_CH_Results> listener) {
    m_l2_listener.set(std::move(listener));
}

std::weak_ptr<I_L2_Demux_CH_Results> CP_L1_ADC_TO_Channel::get_l2_ch_result_listener() const {
    return m_l2_listener.get();
}

void CP_L1_ADC_TO_Channel::preset_frame_counter(uint64_t last_extended_counter) {
    const uint32_t low20 = static_cast<uint32_t>(last_extended_counter & TWO_PART_COUNTER_MAX);
    m_prev_two_part_counter = low20;
    m_prev_counter_high_word = static_cast<uint16_t>(low20 >> 10);
    m_position_high_part = last_extended_counter >> 20;
    m_three_word_counter_high_part = static_cast<uint16_t>(last_extended_counter >> 20);
    m_prev_dw_counter = static_cast<uint32_t>(last_extended_counter);
}

} // namespace Selvan::MURA::demux
