#pragma once

#include "C_Listener_Slot.h"
#include "Export.h"
#include "I_L1_Demux_ADC_Results.h"
#include "I_L2_Demux_CH_Results.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

namespace Selvan::MURA::demux {

// Turns the PSB frames of one probe into channel blocks. The probe numbers its frames with a
// 20-bit counter (frame elements 33 and 34); 13 consecutive frames form a super frame whose
// frame 0 carries one 32-channel slot of the LFP band and whose frames 1..12 carry the AP band
// of all 384 channels. The counter alone decides what a frame is and which slot it fills. A
// block goes on only when every one of its slots was filled from its own super frame (AP) or
// LFP cycle (LFP): after a lost frame the block is dropped, never completed from older data.
class MURA_EXPORT CP_L1_ADC_TO_Channel : public I_L1_Demux_ADC_Results {
public:
    static constexpr uint32_t FRAMES_PER_SUPER_FRAME = 13;
    static constexpr uint32_t SLOTS = 12;
    static constexpr uint32_t SAMPLES_PER_FRAME = 32;

    // Channel of sample `sample` (0..31) of slot `slot` (0..11).
    static constexpr uint32_t channel_of(uint32_t slot, uint32_t sample) {
        return 2 * slot + 24 * (sample / 2) + sample % 2;
    }

    void publish_adc_data(const ADC_Frame& adc) override;
    bool publish_psb_frame(const uint8_t* rows) override;
    bool publish_psb_super_frame(const uint8_t* frames) override;
    void reset_and_resync_counters() override;

    void set_l2_ch_result_listener(std::weak_ptr<I_L2_Demux_CH_Results> listener);
    std::weak_ptr<I_L2_Demux_CH_Results> get_l2_ch_result_listener() const;

    uint32_t get_published_frame_count() const { return m_published_frame_count; }
    // Blocks dropped because a frame of theirs never came.
    uint64_t get_incomplete_block_count() const {
        return m_incomplete_blocks.load(std::memory_order_relaxed);
    }

    // Between these (the worker's batch of super frames) the listener is looked up once and held,
    // rather than locked for every block: a listener set in the meantime takes over at the next
    // block, one its owner lets go of stays alive to the end of the batch.
    void begin_batch() { m_in_batch = true; }
    void end_batch();

    // Continues the counters as if the frame with this extended counter had just been
    // processed. Lets a test start a recording hours into a stream without replaying them.
    void preset_frame_counter(uint64_t last_extended_counter);

private:
    // Which slots of the block being filled have come, and from which super frame (AP) or LFP
    // cycle (LFP).
    struct Block_Fill {
        uint64_t owner = ~uint64_t{0};
        uint32_t slots = 0;
    };

    void place(const ADC_Frame& adc, uint64_t position);
    void place_from_rows(const uint8_t* rows, uint64_t position);
    void place_rows(const uint8_t* rows, uint64_t super_frame, uint32_t slot, bool lfp);
    void slot_filled(uint64_t super_frame, uint32_t slot, bool lfp);
    uint32_t extended_counter(uint32_t two_part_counter) const;
    void check_frame_number_continuity(uint16_t high, uint16_t low);
    uint64_t extend_frame_counter(uint16_t high, uint16_t low);
    void publish_block(bool ap, uint64_t super_frame);
    void pass_block_on(bool ap, uint64_t super_frame);
    I_L2_Demux_CH_Results* listener_for_block();
    void let_go_of_listener();
    static void scatter_frame(const ADC_Frame& adc, uint32_t slot, Channel_Block& block);

    uint32_t m_published_frame_count = 0;
    Channel_Block m_ap_block{};
    Channel_Block m_lfp_block{};
    Block_Fill m_ap_fill;
    Block_Fill m_lfp_fill;
    std::atomic<uint64_t> m_incomplete_blocks{0};
    uint32_t m_prev_two_part_counter = 0xFFFFFFFF;
    C_Listener_Slot<I_L2_Demux_CH_Results> m_l2_listener;
    // The listener held for the batch and the slot generation it was looked up at (worker only).
    std::shared_ptr<I_L2_Demux_CH_Results> m_held_listener;
    uint64_t m_held_generation = 0;
    bool m_listener_held = false;
    bool m_in_batch = false;
    // The high parts are cleared by a resync on the controlling thread while the worker thread
    // may still hold them from earlier data, hence atomics.
    std::atomic<uint16_t> m_three_word_counter_high_part{0};
    uint32_t m_prev_dw_counter = 0xFFFFFFFF;
    uint16_t m_prev_counter_high_word = 0;
    // Roll-overs of the 20-bit counter without the 16-bit limit. The 32-bit extended counter
    // wraps after about three hours, and 2^32 is not a multiple of 13, so positions are taken
    // from this counter instead, which does not wrap in any recording.
    std::atomic<uint64_t> m_position_high_part{0};
};

} // namespace Selvan::MURA::demux
