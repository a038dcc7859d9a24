#include "C_L2_CH_Gain_Fix_Filter.h"

#include "Console.h"
#include "Vector_Clones.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>

namespace Selvan::MURA {
namespace {

// Reads one field up to `delimiter`; a missing delimiter (end of file) fails the load.
std::string read_field(std::istream& in, char delimiter) {
    std::string field;
    std::getline(in, field, delimiter);
    if (in.eof())
        throw std::runtime_error("unexpected end of gain calibration file");
    return field;
}

// As std::stof reads a number (leading white space and a plus sign allowed, anything after the
// number ignored), but always with a decimal point: std::stof follows the process locale, and
// a host running in a comma-decimal locale would read 1.05 as 1.
float locale_independent_stof(const std::string& field) {
    const char* begin = field.data();
    const char* const end = begin + field.size();
    while (begin != end && std::string_view(" \t\n\v\f\r").find(*begin) != std::string_view::npos)
        ++begin;
    if (begin != end && *begin == '+' && end - begin > 1 && begin[1] != '-')
        ++begin;
    float value = 0;
    const auto result = std::from_chars(begin, end, value);
    if (result.ec == std::errc::invalid_argument)
        throw std::invalid_argument("stof");
    if (result.ec == std::errc::result_out_of_range)
        throw std::out_of_range("stof");
    return value;
}

float parse_factor(const std::string& field, uint32_t electrode, uint32_t column) {
    const float factor = locale_independent_stof(field);
    if (!std::isfinite(factor))
        throw std::runtime_error("non-finite gain factor in row " + std::to_string(electrode) + ", field " +
                                 std::to_string(column));
    return factor;
}

// Float to int32 conversion is only defined inside the int32 range; a product outside it keeps
// the nearest representable value before its low 16 bits are taken.
int32_t truncate_to_int32(float value) {
    constexpr float lowest = static_cast<float>(std::numeric_limits<int32_t>::min());
    constexpr float beyond_highest = 2147483648.0f;
    if (value < lowest)
        return std::numeric_limits<int32_t>::min();
    if (value >= beyond_highest)
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

} // namespace

C_L2_CH_Gain_Fix_Filter::C_L2_CH_Gain_Fix_Filter() = default;

C_L2_CH_Gain_Fix_Filter::~C_L2_CH_Gain_Fix_Filter() = default;

bool C_L2_CH_Gain_Fix_Filter::load_gain_calibration_file(const char* path) {
    if (!path) {
        console::err("file open error\n");
        return false;
    }
    console::out("Loading gain data from file : {}\n", path);
    std::ifstream in(path);
    if (!in) {
        console::err("file open error\n");
        return false;
    }
    return load_gain_calibration(in);
}

bool C_L2_CH_Gain_Fix_Filter::load_gain_calibration(std::istream& in) {
    auto tables = std::make_shared<Gain_Tables>();
    try {
        std::string header;
        in >> header;
        in.get();
        if (!in)
            throw std::runtime_error("missing header line");
        for (uint32_t electrode = 0; electrode < ELECTRODE_COUNT; ++electrode) {
            read_field(in, ',');
            for (uint32_t column = 1; column <= 16; ++column) {
                const float factor =
                    parse_factor(read_field(in, column == 16 ? '\n' : ','), electrode, column);
                Factor_Table& table = column <= GAIN_COUNT ? tables->ap : tables->lfp;
                table[(column - 1) % GAIN_COUNT][electrode] = factor;
            }
        }
    } catch (const std::invalid_argument&) {
        console::err("Exception caught while loading gain data : invalid stof argument");
        return false;
    } catch (const std::out_of_range&) {
        console::err("Exception caught while loading gain data : stof argument out of range");
        return false;
    } catch (const std::exception& e) {
        console::err("Exception caught while loading gain data : {}", e.what());
        return false;
    }
    console::out(
        "Gain data loaded.\nCreating default 1:1 mapping for the shank pixels ( Bank A Selection )\n");
    for (uint32_t channel = 0; channel < CHANNEL_COUNT; ++channel)
        m_electrode_of_channel[channel] = static_cast<uint16_t>(channel);
    settings_changed();
    const std::lock_guard lock(m_pointer_mutex);
    m_tables = std::move(tables);
    targets_changed();
    return true;
}

void C_L2_CH_Gain_Fix_Filter::set_channel_gains(uint32_t channel, uint16_t ap_gain_index,
                                                uint16_t lfp_gain_index) {
    m_ap_gain_of_channel.at(channel) = ap_gain_index;
    m_lfp_gain_of_channel.at(channel) = lfp_gain_index;
    settings_changed();
}

void C_L2_CH_Gain_Fix_Filter::select_bank(uint32_t channel, uint16_t bank) {
    m_electrode_of_channel.at(channel) = static_cast<uint16_t>(bank * CHANNEL_COUNT + channel);
    settings_changed();
}

void C_L2_CH_Gain_Fix_Filter::set_downstream_listener(std::weak_ptr<demux::I_L2_Demux_CH_Results> listener) {
    const std::lock_guard lock(m_pointer_mutex);
    m_downstream = std::move(listener);
    targets_changed();
}

std::weak_ptr<demux::I_L2_Demux_CH_Results> C_L2_CH_Gain_Fix_Filter::get_downstream_listener() const {
    const std::lock_guard lock(m_pointer_mutex);
    return m_downstream;
}

std::shared_ptr<const C_L2_CH_Gain_Fix_Filter::Gain_Tables> C_L2_CH_Gain_Fix_Filter::current_tables() const {
    const std::lock_guard lock(m_pointer_mutex);
    return m_tables;
}

// Both references for one block under a single lock: this runs for every AP and LFP block.
C_L2_CH_Gain_Fix_Filter::Block_Targets C_L2_CH_Gain_Fix_Filter::current_targets() const {
    const std::lock_guard lock(m_pointer_mutex);
    return {m_downstream.lock(), m_tables};
}

float C_L2_CH_Gain_Fix_Filter::ap_factor(uint32_t gain_index, uint32_t electrode) const {
    const auto tables = current_tables();
    return tables ? tables->ap.at(gain_index).at(electrode) : 0.0f;
}

// A channel whose gain index or electrode has no table entry keeps its sample (factor 1: a
// 16-bit sample times 1 is exact in single precision): an exception here would end the worker
// thread and with it the host.
void C_L2_CH_Gain_Fix_Filter::build_channel_factors(Channel_Factors& out, const Factor_Table& factors,
                                                    const Channel_Settings& gain_indices) {
    for (uint32_t channel = 0; channel < CHANNEL_COUNT; ++channel) {
        const uint16_t gain = gain_indices[channel].load(std::memory_order_relaxed);
        const uint16_t electrode = m_electrode_of_channel[channel].load(std::memory_order_relaxed);
        const bool known = gain < GAIN_COUNT && electrode < ELECTRODE_COUNT;
        out[channel] = known ? factors[gain][electrode] : 1.0f;
        // A centred sample is within +-65,535: with |factor| <= 32,768 every product fits an int32.
        m_built.products_fit_int32 = m_built.products_fit_int32 && std::fabs(out[channel]) <= 32768.0f;
    }
}

void C_L2_CH_Gain_Fix_Filter::rebuild_factors(std::shared_ptr<const Gain_Tables> tables,
                                              uint64_t generation) {
    m_built.products_fit_int32 = true;
    build_channel_factors(m_built.ap, tables->ap, m_ap_gain_of_channel);
    build_channel_factors(m_built.lfp, tables->lfp, m_lfp_gain_of_channel);
    m_built.tables = std::move(tables);
    m_built.settings_generation = generation;
}

// The factor scales the signal, not the ADC's mid-scale: it multiplies the sample centred on
// code 512, the product is truncated toward zero to an int32, and the block keeps it offset by
// 512 again in its low 16 bits (the electrode converter centres it back, whatever its sign).
// (Added as unsigned numbers, which wrap where a signed sum could overflow.)
NP3_VECTOR_CLONES void C_L2_CH_Gain_Fix_Filter::correct(Block& block, const Channel_Factors& factors) const {
    constexpr int32_t MID_SCALE = 512;
    if (m_built.products_fit_int32) {
        for (uint32_t channel = 0; channel < CHANNEL_COUNT; ++channel) {
            const auto product =
                static_cast<int32_t>(static_cast<float>(block[channel] - MID_SCALE) * factors[channel]);
            block[channel] = static_cast<uint16_t>(static_cast<uint32_t>(product) + MID_SCALE);
        }
        return;
    }
    for (uint32_t channel = 0; channel < CHANNEL_COUNT; ++channel) {
        const int32_t product =
            truncate_to_int32(static_cast<float>(block[channel] - MID_SCALE) * factors[channel]);
        block[channel] = static_cast<uint16_t>(static_cast<uint32_t>(product) + MID_SCALE);
    }
}

const C_L2_CH_Gain_Fix_Filter::Block_Targets& C_L2_CH_Gain_Fix_Filter::targets_for_block() {
    const uint64_t generation = m_targets_generation.load(std::memory_order_acquire);
    if (!m_targets_held || generation != m_held_generation) {
        end_batch_of_downstream();
        m_held_targets = current_targets();
        m_held_generation = generation;
        m_targets_held = true;
        if (m_held_targets.listener)
            m_held_targets.listener->begin_batch();
    }
    return m_held_targets;
}

void C_L2_CH_Gain_Fix_Filter::end_batch_of_downstream() {
    if (m_held_targets.listener)
        m_held_targets.listener->end_batch();
    m_held_targets = {};
    m_targets_held = false;
}

void C_L2_CH_Gain_Fix_Filter::end_batch() {
    m_in_batch = false;
    end_batch_of_downstream();
}

void C_L2_CH_Gain_Fix_Filter::publish(Block& block, bool ap) {
    demux::pass_block_on_within_batch(
        m_in_batch, [&] { correct_and_pass_on(block, ap); }, [this] { end_batch_of_downstream(); });
}

void C_L2_CH_Gain_Fix_Filter::correct_and_pass_on(Block& block, bool ap) {
    const Block_Targets& targets = targets_for_block();
    if (!targets.listener) {
        console::out(ap ? "C_L2_CH_Gain_Fix_Filter has no ap listener\n"
                        : "C_L2_CH_Gain_Fix_Filter has no lp listener\n");
        return;
    }
    if (targets.tables) {
        const uint64_t generation = m_settings_generation.load(std::memory_order_acquire);
        if (targets.tables != m_built.tables || generation != m_built.settings_generation)
            rebuild_factors(targets.tables, generation);
        correct(block, ap ? m_built.ap : m_built.lfp);
    }
    targets.listener->set_super_frame(m_super_frame);
    if (ap)
        targets.listener->publish_ap_ch_data(block);
    else
        targets.listener->publish_lp_ch_data(block);
}

void C_L2_CH_Gain_Fix_Filter::publish_ap_ch_data(Block& block) {
    publish(block, true);
}

void C_L2_CH_Gain_Fix_Filter::publish_lp_ch_data(Block& block) {
    publish(block, false);
}

} // namespace Selvan::MURA
