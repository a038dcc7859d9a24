#pragma once

#include "Export.h"
#include "I_L2_Demux_CH_Results.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <istream>
#include <memory>
#include <mutex>

namespace Selvan::MURA {

// Sits between a port's channel stage and its final listener and multiplies every AP and LFP
// sample by a correction factor chosen by the electrode the channel reads and the channel's
// gain setting, from the probe's gain calibration file. Blocks pass through unchanged until a
// calibration file has been loaded.
//
// The correction runs on the port's worker thread while the API thread may load a file or
// change a channel's bank or gains: a load replaces the whole table set at once (the worker
// takes its own reference under a short lock), and the per-channel settings are single atomic
// words, so a block never sees a torn value. The worker turns tables and settings into one
// factor per channel, rebuilt only when one of them changed: per sample that leaves one multiply.
class MURA_EXPORT C_L2_CH_Gain_Fix_Filter : public demux::I_L2_Demux_CH_Results {
public:
    static constexpr uint32_t CHANNEL_COUNT = 384;
    static constexpr uint32_t ELECTRODE_COUNT = 960;
    static constexpr uint32_t GAIN_COUNT = 8;
    using Block = std::array<uint16_t, CHANNEL_COUNT>;

    C_L2_CH_Gain_Fix_Filter();
    ~C_L2_CH_Gain_Fix_Filter() override;

    // Parses the whole file first and takes it only when every row is good.
    bool load_gain_calibration_file(const char* path);
    // The same from an open stream. Numbers are read with a decimal point whatever the locale.
    bool load_gain_calibration(std::istream& in);
    void set_channel_gains(uint32_t channel, uint16_t ap_gain_index, uint16_t lfp_gain_index);
    void select_bank(uint32_t channel, uint16_t bank);
    void set_downstream_listener(std::weak_ptr<demux::I_L2_Demux_CH_Results> listener);
    std::weak_ptr<demux::I_L2_Demux_CH_Results> get_downstream_listener() const;

    void set_super_frame(uint64_t super_frame) override { m_super_frame = super_frame; }
    void publish_ap_ch_data(Block& block) override;
    void publish_lp_ch_data(Block& block) override;
    // Inside a batch the downstream listener and the tables are looked up once and held (a new
    // file or listener takes over at the next block); outside one, per block.
    void begin_batch() override { m_in_batch = true; }
    void end_batch() override;

    bool is_gain_data_loaded() const { return current_tables() != nullptr; }
    uint16_t electrode_of_channel(uint32_t channel) const {
        return m_electrode_of_channel.at(channel).load();
    }
    float ap_factor(uint32_t gain_index, uint32_t electrode) const;

private:
    using Factor_Table = std::array<std::array<float, ELECTRODE_COUNT>, GAIN_COUNT>;
    struct Gain_Tables {
        Factor_Table ap{};
        Factor_Table lfp{};
    };
    using Channel_Settings = std::array<std::atomic<uint16_t>, CHANNEL_COUNT>;

    using Channel_Factors = std::array<float, CHANNEL_COUNT>;
    // The worker's factors per channel and what they were built from (worker thread only).
    struct Built_Factors {
        std::shared_ptr<const Gain_Tables> tables;
        uint64_t settings_generation = 0;
        Channel_Factors ap{};
        Channel_Factors lfp{};
        bool products_fit_int32 = true;
    };

    void rebuild_factors(std::shared_ptr<const Gain_Tables> tables, uint64_t generation);
    void build_channel_factors(Channel_Factors& out, const Factor_Table& factors,
                               const Channel_Settings& gain_indices);
    void correct(Block& block, const Channel_Factors& factors) const;
    void settings_changed() { m_settings_generation.fetch_add(1, std::memory_order_release); }
    void publish(Block& block, bool ap);
    void correct_and_pass_on(Block& block, bool ap);
    std::shared_ptr<const Gain_Tables> current_tables() const;
    struct Block_Targets {
        std::shared_ptr<demux::I_L2_Demux_CH_Results> listener;
        std::shared_ptr<const Gain_Tables> tables;
    };
    Block_Targets current_targets() const;
    const Block_Targets& targets_for_block();
    void end_batch_of_downstream();
    void targets_changed() { m_targets_generation.fetch_add(1, std::memory_order_release); }

    mutable std::mutex m_pointer_mutex; // guards m_tables and m_downstream
    std::shared_ptr<const Gain_Tables> m_tables;
    std::weak_ptr<demux::I_L2_Demux_CH_Results> m_downstream;
    std::array<std::atomic<uint16_t>, CHANNEL_COUNT> m_electrode_of_channel{};
    Channel_Settings m_ap_gain_of_channel{};
    Channel_Settings m_lfp_gain_of_channel{};
    std::atomic<uint64_t> m_settings_generation{1};
    // Counts changes of m_tables and m_downstream, so that held targets are known to be current.
    std::atomic<uint64_t> m_targets_generation{0};
    Built_Factors m_built;
    // Worker thread only.
    Block_Targets m_held_targets;
    uint64_t m_held_generation = 0;
    bool m_targets_held = false;
    bool m_in_batch = false;
    uint64_t m_super_frame = 0; // of the next block, passed on with it
};

} // namespace Selvan::MURA
