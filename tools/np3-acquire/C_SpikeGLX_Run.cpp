#include "C_SpikeGLX_Run.h"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#ifndef NP3_VERSION
#define NP3_VERSION "unknown"
#endif

namespace Selvan::MURA::acquire {
namespace {

namespace fs = std::filesystem;
using Neuropixels::electrodePacket;

constexpr uint32_t CHANNELS = NP1_PROBE_CHANNEL_COUNT;
constexpr uint32_t AP_PER_PACKET = NP1_PROBE_SUPERFRAMESIZE;
// Acquisition channel indices of a Neuropixels 1.0 probe: AP 0..383, LF 384..767, sync 768.
constexpr uint32_t LF_FIRST = CHANNELS;
constexpr uint32_t SYNC_CHANNEL = 2 * CHANNELS;
// Channel 191 is wired to the reference electrodes 191, 575 and 959: it records nothing.
constexpr uint32_t REFERENCE_CHANNEL = 191;
// Shank geometry of a Neuropixels 1.0 probe: 960 electrodes in 480 rows of two columns.
constexpr int SHANK_COLUMNS = 2;
constexpr int SHANK_ROWS = 480;

// The status bit that marks the first sample after a gap, and so every filler sample.
constexpr uint16_t ERR_COUNT = 1u << 2;
// Filler is written in blocks of this many rows.
constexpr uint64_t FILLER_ROWS = 1024;

void append_filler(C_SpikeGLX_Stream& stream, uint64_t rows, int16_t last_channel) {
    std::vector<int16_t> filler(static_cast<size_t>(std::min(rows, FILLER_ROWS)) * stream.channels(), 0);
    for (size_t row = 0; row < filler.size() / stream.channels(); ++row)
        filler[(row + 1) * stream.channels() - 1] = last_channel;
    for (uint64_t left = rows; left > 0;) {
        const uint64_t now = std::min(left, FILLER_ROWS);
        stream.append(filler.data(), now);
        left -= now;
    }
}

// SpikeGLX names a Neuropixels 1.0 reference by id: 0 external, 1 tip, 2 + bank for the
// internal reference electrode of that bank.
int reference_id(const host::Channel_Settings& settings) {
    switch (settings.reference) {
    case Neuropixels::TIP_REF:
        return 1;
    case Neuropixels::INT_REF:
        return 2 + settings.reference_bank;
    default:
        return 0;
    }
}

int gain_value(int index) {
    return index >= 0 && index < static_cast<int>(NP1_GAINS.size()) ? NP1_GAINS[static_cast<size_t>(index)]
                                                                    : 0;
}

std::string imro_table(const Probe_Record& probe) {
    std::string table = fmt::format("(0,{})", CHANNELS);
    for (uint32_t channel = 0; channel < CHANNELS; ++channel) {
        const host::Channel_Gains gains =
            channel < probe.gains.size() ? probe.gains[channel] : host::Channel_Gains{};
        table += fmt::format("({} {} {} {} {} {})", channel, probe.settings.bank,
                             reference_id(probe.settings), gain_value(gains.ap), gain_value(gains.lfp),
                             probe.settings.disable_high_pass ? 0 : 1);
    }
    return table;
}

std::string channel_map(bool ap) {
    std::string map = fmt::format("({},{},1)", CHANNELS, CHANNELS);
    for (uint32_t channel = 0; channel < CHANNELS; ++channel) {
        if (ap)
            map += fmt::format("(AP{};{}:{})", channel, channel, channel);
        else
            map += fmt::format("(LF{};{}:{})", channel, LF_FIRST + channel, channel);
    }
    return map + fmt::format("(SY0;{}:{})", SYNC_CHANNEL, SYNC_CHANNEL);
}

// Where each channel's electrode sits: (shank:column:row:used).
std::string shank_map(const Probe_Record& probe) {
    std::string map = fmt::format("(1,{},{})", SHANK_COLUMNS, SHANK_ROWS);
    for (uint32_t channel = 0; channel < CHANNELS; ++channel) {
        const uint32_t electrode = CHANNELS * static_cast<uint32_t>(probe.settings.bank) + channel;
        map += fmt::format("(0:{}:{}:{})", electrode % SHANK_COLUMNS, electrode / SHANK_COLUMNS,
                           channel == REFERENCE_CHANNEL ? 0 : 1);
    }
    return map;
}

} // namespace

std::optional<int> np1_gain_index(int gain) {
    const auto found = std::find(NP1_GAINS.begin(), NP1_GAINS.end(), gain);
    if (found == NP1_GAINS.end())
        return std::nullopt;
    return static_cast<int>(found - NP1_GAINS.begin());
}

std::string C_SpikeGLX_Run::run_name_of(const fs::path& folder) {
    std::string name = fs::absolute(folder).lexically_normal().filename().string();
    if (name.empty())
        name = fs::absolute(folder).lexically_normal().parent_path().filename().string();
    return name.empty() ? "run" : name;
}

C_SpikeGLX_Run::C_SpikeGLX_Run(const fs::path& folder, const std::vector<int>& ports)
    : m_run_name(run_name_of(folder)) {
    m_folder = folder / (m_run_name + "_g0");
    if (fs::exists(m_folder))
        throw std::runtime_error(
            fmt::format("{} already holds a run; choose another --output folder", m_folder.string()));
    const std::string stem = m_run_name + "_g0_t0";
    std::vector<int> sorted = ports;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    for (int port : sorted) {
        auto owned = std::make_unique<Probe_Streams>();
        Probe_Streams& streams = *owned;
        streams.port = port;
        streams.index = static_cast<uint32_t>(m_probes.size());
        const fs::path probe_folder = m_folder / fmt::format("{}_g0_imec{}", m_run_name, streams.index);
        fs::create_directories(probe_folder);
        streams.ap = std::make_unique<C_SpikeGLX_Stream>(
            probe_folder / fmt::format("{}.imec{}.ap.bin", stem, streams.index), PROBE_STREAM_CHANNELS,
            AP_RATE);
        streams.lf = std::make_unique<C_SpikeGLX_Stream>(
            probe_folder / fmt::format("{}.imec{}.lf.bin", stem, streams.index), PROBE_STREAM_CHANNELS,
            LFP_RATE);
        streams.ap_rows.resize(AP_PER_PACKET * PROBE_STREAM_CHANNELS);
        streams.lf_row.resize(PROBE_STREAM_CHANNELS);
        m_probes.push_back(std::move(owned));
    }
    fs::create_directories(m_folder);
    m_adc =
        std::make_unique<C_SpikeGLX_Stream>(m_folder / (stem + ".nidq.bin"), ADC_STREAM_CHANNELS, ADC_RATE);
}

C_SpikeGLX_Run::Probe_Streams* C_SpikeGLX_Run::streams_of(int port) {
    for (auto& streams : m_probes) {
        if (streams->port == port)
            return streams.get();
    }
    return nullptr;
}

const C_SpikeGLX_Run::Probe_Streams* C_SpikeGLX_Run::streams_of(int port) const {
    return const_cast<C_SpikeGLX_Run*>(this)->streams_of(port);
}

uint64_t C_SpikeGLX_Run::ap_rows(int port) const {
    const Probe_Streams* streams = streams_of(port);
    return streams ? streams->ap->rows() : 0;
}

Stream_Losses C_SpikeGLX_Run::losses(int port) const {
    const Probe_Streams* streams = streams_of(port);
    return streams ? Stream_Losses{streams->gaps.load(), streams->missing.load()} : Stream_Losses{};
}

// A gap in a probe's data is a whole number of packets (the library delivers whole LFP cycles):
// as many LF rows go missing as twelves of AP rows.
void C_SpikeGLX_Run::fill_probe_gap(Probe_Streams& streams, uint64_t samples) {
    append_filler(*streams.ap, samples, static_cast<int16_t>(ERR_COUNT));
    append_filler(*streams.lf, samples / AP_PER_PACKET, static_cast<int16_t>(ERR_COUNT));
    streams.gaps.fetch_add(1, std::memory_order_relaxed);
    streams.missing.fetch_add(samples, std::memory_order_relaxed);
}

// The samples are written as they come; a gap before a sample is filled first.
void C_SpikeGLX_Run::add_packet(int port, const electrodePacket& packet) {
    Probe_Streams* streams = streams_of(port);
    if (streams == nullptr)
        return;
    int16_t* row = streams->ap_rows.data();
    uint32_t rows = 0;
    for (uint32_t sample = 0; sample < AP_PER_PACKET; ++sample) {
        const uint64_t missing = streams->clock.advance(packet.timestamp[sample]);
        if (missing > 0) {
            streams->ap->append(streams->ap_rows.data(), rows);
            row = streams->ap_rows.data();
            rows = 0;
            fill_probe_gap(*streams, missing);
        }
        std::copy_n(packet.apData[sample], CHANNELS, row);
        row[CHANNELS] = static_cast<int16_t>(packet.Status[sample]);
        streams->error_flags += (packet.Status[sample] & ERR_COUNT) != 0;
        row += PROBE_STREAM_CHANNELS;
        ++rows;
    }
    streams->ap->append(streams->ap_rows.data(), rows);
    std::copy_n(packet.lfpData, CHANNELS, streams->lf_row.data());
    // The LF sample shares its time with the packet's first AP sample.
    streams->lf_row[CHANNELS] = static_cast<int16_t>(packet.Status[0]);
    streams->lf->append(streams->lf_row.data(), 1);
}

void C_SpikeGLX_Run::add_adc_packets(const Neuropixels::PacketInfo* info, const int16_t* samples, int count) {
    m_adc_rows.resize(static_cast<size_t>(count) * ADC_STREAM_CHANNELS);
    int16_t* row = m_adc_rows.data();
    uint64_t rows = 0;
    for (int packet = 0; packet < count; ++packet) {
        const uint64_t missing = m_adc_clock.advance(info[packet].Timestamp);
        if (missing > 0) {
            m_adc->append(m_adc_rows.data(), rows);
            row = m_adc_rows.data();
            rows = 0;
            append_filler(*m_adc, missing, 0);
            m_adc_gaps.fetch_add(1, std::memory_order_relaxed);
            m_adc_missing.fetch_add(missing, std::memory_order_relaxed);
        }
        std::copy_n(samples + static_cast<size_t>(packet) * ADC_SAMPLES, ADC_SAMPLES, row);
        row[ADC_SAMPLES] = static_cast<int16_t>(info[packet].Status);
        row += ADC_STREAM_CHANNELS;
        ++rows;
    }
    m_adc->append(m_adc_rows.data(), rows);
}

namespace {

// SpikeGLX's sync source index: 0 none, 1 an external pulser on the sync input, 3 and up the
// imec slot's own generator (slot 0 here).
int sync_source_index(const Sync_Record& sync) {
    switch (sync.source) {
    case Sync_Record::Source::input:
        return 1;
    case Sync_Record::Source::clock:
        return 3;
    case Sync_Record::Source::none:
        break;
    }
    return 0;
}

} // namespace

C_SpikeGLX_Stream::Meta C_SpikeGLX_Run::probe_meta(const Probe_Record& probe, const Probe_Streams& streams,
                                                   bool ap, const std::string& create_time,
                                                   const Sync_Record& sync) const {
    C_SpikeGLX_Stream::Meta meta;
    meta["typeThis"] = "imec";
    meta["appVersion"] = "np3-acquire " NP3_VERSION;
    meta["fileCreateTime"] = create_time;
    meta["imAiRangeMax"] = fmt::format("{}", PROBE_RANGE_VOLTS);
    meta["imAiRangeMin"] = fmt::format("{}", -PROBE_RANGE_VOLTS);
    meta["imMaxInt"] = fmt::format("{}", PROBE_MAX_INT);
    meta["imSampRate"] = fmt::format("{}", ap ? AP_RATE : LFP_RATE);
    meta["imDatPrb_type"] = "0";
    meta["imDatPrb_pn"] = probe.identity.probe_part_number;
    meta["imDatPrb_sn"] = fmt::format("{}", probe.identity.probe_serial_number);
    meta["imDatHs_pn"] = probe.identity.headstage_part_number;
    meta["imDatPrb_slot"] = "0";
    meta["imDatPrb_port"] = fmt::format("{}", probe.port);
    meta["imDatPrb_dock"] = "0";
    meta["acqApLfSy"] = fmt::format("{},{},1", CHANNELS, CHANNELS);
    meta["snsApLfSy"] = ap ? fmt::format("{},0,1", CHANNELS) : fmt::format("0,{},1", CHANNELS);
    meta["snsSaveChanSubset"] = ap ? fmt::format("0:{},{}", CHANNELS - 1, SYNC_CHANNEL)
                                   : fmt::format("{}:{},{}", LF_FIRST, LF_FIRST + CHANNELS - 1, SYNC_CHANNEL);
    meta["imRoFile"] = "";
    meta["syncSourceIdx"] = fmt::format("{}", sync_source_index(sync));
    meta["syncSourcePeriod"] = fmt::format("{}", sync.period_seconds);
    meta["syncImInputSlot"] = "0";
    // Error flags counted in the probe's status words: IS, CT (ERR_COUNT), SR, LK, PP, SY.
    meta[fmt::format("imErrFlags{}_IS_CT_SR_LK_PP_SY", streams.index)] =
        fmt::format("0 {} 0 0 0 0", streams.error_flags);
    meta["~imroTbl"] = imro_table(probe);
    meta["~snsChanMap"] = channel_map(ap);
    meta["~snsShankMap"] = shank_map(probe);
    return meta;
}

C_SpikeGLX_Stream::Meta C_SpikeGLX_Run::adc_meta(const std::string& create_time,
                                                 const Sync_Record& sync) const {
    C_SpikeGLX_Stream::Meta meta;
    meta["typeThis"] = "nidq";
    meta["appVersion"] = "np3-acquire " NP3_VERSION;
    meta["fileCreateTime"] = create_time;
    meta["niDev1ProdName"] = "MURA RHD auxiliary ADC";
    meta["niSampRate"] = fmt::format("{}", ADC_RATE);
    meta["niAiRangeMax"] = fmt::format("{}", ADC_RANGE_VOLTS);
    meta["niAiRangeMin"] = fmt::format("{}", -ADC_RANGE_VOLTS);
    meta["niMaxInt"] = "32768";
    // No multiplexed channels: their gains are given as 1 for readers that expect the keys.
    meta["niMNGain"] = "1";
    meta["niMAGain"] = "1";
    meta["acqMnMaXaDw"] = fmt::format("0,0,{},1", ADC_SAMPLES);
    meta["snsMnMaXaDw"] = fmt::format("0,0,{},1", ADC_SAMPLES);
    meta["snsSaveChanSubset"] = fmt::format("0:{}", ADC_SAMPLES);
    meta["syncSourceIdx"] = fmt::format("{}", sync_source_index(sync));
    meta["syncSourcePeriod"] = fmt::format("{}", sync.period_seconds);
    // The sync input reaches the digital word XD0 as one of its bits.
    meta["syncNiChanType"] = "0";
    meta["syncNiChan"] = fmt::format("{}", sync.ni_bit);
    meta["syncNiThresh"] = "1.1";
    std::string map = fmt::format("(0,0,0,{},1)", ADC_SAMPLES);
    for (uint32_t channel = 0; channel < ADC_SAMPLES; ++channel)
        map += fmt::format("(XA{};{}:{})", channel, channel, channel);
    meta["~snsChanMap"] = map + fmt::format("(XD0;{}:{})", ADC_SAMPLES, ADC_SAMPLES);
    return meta;
}

void C_SpikeGLX_Run::finish(const std::vector<Probe_Record>& probes, const std::string& create_time,
                            const Sync_Record& sync) {
    for (auto& owned : m_probes) {
        Probe_Streams& streams = *owned;
        Probe_Record record;
        record.port = streams.port;
        for (const auto& probe : probes) {
            if (probe.port == streams.port)
                record = probe;
        }
        streams.ap->finish(probe_meta(record, streams, true, create_time, sync));
        streams.lf->finish(probe_meta(record, streams, false, create_time, sync));
    }
    m_adc->finish(adc_meta(create_time, sync));
}

} // namespace Selvan::MURA::acquire
