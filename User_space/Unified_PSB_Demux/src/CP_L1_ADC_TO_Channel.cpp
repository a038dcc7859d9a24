#include "CP_L1_ADC_TO_Channel.h"

#include "Console.h"

namespace Selvan::MURA::demux {
namespace {

constexpr uint32_t COUNTER_HIGH_ELEMENT = 33;
constexpr uint32_t COUNTER_LOW_ELEMENT = 34;
constexpr uint32_t TWO_PART_COUNTER_MAX = 0xFFFFF;

} // namespace

void CP_L1_ADC_TO_Channel::publish_adc_data(const ADC_Frame& adc) {
    check_frame_number_continuity(adc);
    const uint64_t position = extend_frame_counter(adc);
    const uint32_t frame_in_super_frame = static_cast<uint32_t>(position % FRAMES_PER_SUPER_FRAME);
    if (frame_in_super_frame == 0) {
        const uint32_t lfp_slot = static_cast<uint32_t>((position / FRAMES_PER_SUPER_FRAME) % SLOTS);
        place_lfp_frame(adc, lfp_slot);
    } else {
        place_ap_frame(adc, frame_in_super_frame - 1);
    }
    ++m_published_frame_count;
}

void CP_L1_ADC_TO_Channel::check_frame_number_continuity(const ADC_Frame& adc) {
    const uint32_t counter = adc[COUNTER_HIGH_ELEMENT] * 1024u + adc[COUNTER_LOW_ELEMENT];
    if (counter != m_prev_two_part_counter + 1) {
        if (counter == 0 && m_prev_two_part_counter == TWO_PART_COUNTER_MAX)
            console::out("frame_number rolled : {}, prev count : {}\n", counter, m_prev_two_part_counter);
        else
            console::err("check_frame_number_continuity failed, current counter (two part) : {} {}, prev "
                         "counter : {}\n",
                         adc[COUNTER_HIGH_ELEMENT], adc[COUNTER_LOW_ELEMENT], m_prev_two_part_counter);
    }
    m_prev_two_part_counter = counter;
}

// Extends the 20-bit frame counter by counting its roll-overs. Messages name the 32-bit
// extended counter; the returned position is the same count without the 32-bit wrap.
uint64_t CP_L1_ADC_TO_Channel::extend_frame_counter(const ADC_Frame& adc) {
    const uint16_t high_word = adc[COUNTER_HIGH_ELEMENT] & 0x3FF;
    const uint32_t low20 = high_word * 1024u + (adc[COUNTER_LOW_ELEMENT] & 0x3FF);
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

void CP_L1_ADC_TO_Channel::place_ap_frame(const ADC_Frame& adc, uint32_t slot) {
    for (uint32_t sample = 0; sample < SAMPLES_PER_FRAME; ++sample)
        m_ap_block[channel_of(slot, sample)] = adc[sample];
    if (slot != SLOTS - 1)
        return;
    if (auto listener = m_l2_listener.lock())
        listener->publish_ap_ch_data(m_ap_block);
    else
        console::err("publish_ap_ch_data destination it not alive\n");
}

void CP_L1_ADC_TO_Channel::place_lfp_frame(const ADC_Frame& adc, uint32_t slot) {
    for (uint32_t sample = 0; sample < SAMPLES_PER_FRAME; ++sample)
        m_lfp_block[channel_of(slot, sample)] = adc[sample];
    if (slot != SLOTS - 1)
        return;
    if (auto listener = m_l2_listener.lock())
        listener->publish_lp_ch_data(m_lfp_block);
    else
        console::err("publish_lp_ch_data destination it not alive\n");
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
