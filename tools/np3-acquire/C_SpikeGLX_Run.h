#pragma once

#include "C_Sample_Clock.h"
#include "C_SpikeGLX_Stream.h"
#include "Host_Sequence.h"
#include "NeuropixAPI.h"

#include <array>
#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Selvan::MURA::acquire {

// The gains a Neuropixels 1.0 probe offers, by the API's gain select index.
constexpr std::array<int, 8> NP1_GAINS{50, 125, 250, 500, 1000, 1500, 2000, 3000};
// The gain select index of a gain value; none when the probe has no such gain.
std::optional<int> np1_gain_index(int gain);

// How the run's probes were synchronised, for the SpikeGLX sync keys.
struct Sync_Record {
    enum class Source { none, input, clock } source = Source::none;
    double period_seconds = 1.0;
    // The bit of the ADC stream's digital word that carries the sync input.
    int ni_bit = 7;
};

// What a stream lost: gaps and the samples missing in them.
struct Stream_Losses {
    uint64_t gaps = 0;
    uint64_t samples = 0;
};

// What the run records about a probe when it is finished.
struct Probe_Record {
    int port = 0;
    host::Probe_Identity identity;
    host::Channel_Settings settings;
    // Gain select indices per channel as the probe reports them (384 entries).
    std::vector<host::Channel_Gains> gains;
};

// A SpikeGLX run: for the probe of the N-th acquired port (N from 0)
// <folder>/<run>_g0/<run>_g0_imecN/<run>_g0_t0.imecN.ap.bin and .lf.bin, each with its .meta,
// and the RHD headstages' ADC packets in <folder>/<run>_g0/<run>_g0_t0.nidq.bin, where <run>
// is the folder's name.
//
// Probe streams hold 385 channels: the 384 electrodes as the library delivers them (signed,
// ADC code - 512, the convention for 10-bit probes) and the sync channel, the packet's status
// word (SYNC in bit 6). The ADC stream holds the packets' 12 signed samples as analog channels
// and their status (TTL) word as a digital word channel. A row's index is its time: the
// packets' timestamps place every sample, and what a gap left out is written as zero samples
// (with ERR_COUNT in a probe's sync word), counted per stream.
class C_SpikeGLX_Run {
public:
    static constexpr uint32_t PROBE_STREAM_CHANNELS = NP1_PROBE_CHANNEL_COUNT + 1;
    static constexpr uint32_t ADC_SAMPLES = 12;
    static constexpr uint32_t ADC_STREAM_CHANNELS = ADC_SAMPLES + 1;
    static constexpr double AP_RATE = 30000.0;
    static constexpr double LFP_RATE = 2500.0;
    // The box frames its RHD headstages at the probes' AP rate: one ADC packet per frame.
    static constexpr double ADC_RATE = 30000.0;
    // The probe's ADC: 10 bits over +-0.6 V at the amplifier input before the gain.
    static constexpr double PROBE_RANGE_VOLTS = 0.6;
    static constexpr int PROBE_MAX_INT = 512;
    // The RHD interface's auxiliary ADC: 16 bits over 0..3.3 V; the packets carry the codes
    // centred on mid-scale, so the stream's range is +-1.65 V about 1.65 V.
    static constexpr double ADC_RANGE_VOLTS = 1.65;

    // Refuses (throws) a folder that already holds this run.
    C_SpikeGLX_Run(const std::filesystem::path& folder, const std::vector<int>& ports);

    static std::string run_name_of(const std::filesystem::path& folder);

    // Called on the port's reader thread; each port has streams of its own.
    void add_packet(int port, const Neuropixels::electrodePacket& packet);
    // Called on the ADC reader thread.
    void add_adc_packets(const Neuropixels::PacketInfo* info, const int16_t* samples, int count);
    // Closes every .bin and writes the .meta files. `create_time` as SpikeGLX writes it
    // (2024-05-01T13:45:00).
    void finish(const std::vector<Probe_Record>& probes, const std::string& create_time,
                const Sync_Record& sync);

    const std::filesystem::path& folder() const { return m_folder; }
    const std::string& run_name() const { return m_run_name; }
    // Rows written to a port's AP stream (filler included).
    uint64_t ap_rows(int port) const;
    // What a port's AP stream and the ADC stream lost so far (safe while others write).
    Stream_Losses losses(int port) const;
    Stream_Losses adc_losses() const { return {m_adc_gaps.load(), m_adc_missing.load()}; }

private:
    struct Probe_Streams {
        int port = 0;
        uint32_t index = 0;
        std::unique_ptr<C_SpikeGLX_Stream> ap;
        std::unique_ptr<C_SpikeGLX_Stream> lf;
        std::vector<int16_t> ap_rows;
        std::vector<int16_t> lf_row;
        C_Sample_Clock clock;
        std::atomic<uint64_t> gaps{0};
        std::atomic<uint64_t> missing{0};
        uint64_t error_flags = 0; // samples with ERR_COUNT
    };

    Probe_Streams* streams_of(int port);
    const Probe_Streams* streams_of(int port) const;
    void fill_probe_gap(Probe_Streams& streams, uint64_t samples);
    C_SpikeGLX_Stream::Meta probe_meta(const Probe_Record& probe, const Probe_Streams& streams, bool ap,
                                       const std::string& create_time, const Sync_Record& sync) const;
    C_SpikeGLX_Stream::Meta adc_meta(const std::string& create_time, const Sync_Record& sync) const;

    std::filesystem::path m_folder;
    std::string m_run_name;
    std::vector<std::unique_ptr<Probe_Streams>> m_probes;
    std::unique_ptr<C_SpikeGLX_Stream> m_adc;
    std::vector<int16_t> m_adc_rows;
    C_Sample_Clock m_adc_clock;
    std::atomic<uint64_t> m_adc_gaps{0};
    std::atomic<uint64_t> m_adc_missing{0};
};

} // namespace Selvan::MURA::acquire
