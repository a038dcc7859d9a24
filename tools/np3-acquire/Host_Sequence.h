#pragma once

// The call sequence acquisition software runs against the Neuropixels API, from the device
// list to closing the basestation, with a reader thread per port. Used by np3-acquire and by
// the end-to-end tests; it knows nothing but NeuropixAPI.h.

#include "NeuropixAPI.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Selvan::MURA::host {

// What the host sets on every recording channel of a probe. Gains are the API's gain select
// indices (0..7); the reference's bank is the internal reference electrode's bank.
struct Channel_Settings {
    int bank = 0;
    Neuropixels::channelreference_t reference = Neuropixels::EXT_REF;
    int reference_bank = 0;
    int ap_gain = 4;
    int lfp_gain = 0;
    bool disable_high_pass = false;
};

// What the host routes into the SYNC bit of every electrode sample: the box's sync input (a
// pulser wired to it), a square wave of the box's own (`sync_clock_hz`), or nothing.
enum class Sync_Routing { input, clock, none };

struct Host_Options {
    std::vector<int> ports{1, 2, 3, 4};
    Sync_Routing sync = Sync_Routing::input;
    int sync_clock_hz = 1;
    Channel_Settings channels;
    std::string adc_calibration_file;  // empty: the probe keeps its default table
    std::string gain_calibration_file; // empty: no gain correction
    // Each reader stops after this many packets; 0 reads until `duration` has passed.
    uint64_t packets_per_port = 0;
    std::chrono::milliseconds duration{2000};
    int packets_per_read = 10;
    uint64_t adc_packets = 0; // 0: ADC packets are read until the stop as well
    // Called on the port's reader thread for every packet read.
    std::function<void(int port, const Neuropixels::electrodePacket& packet)> on_packet;
    // Called on the port's reader thread after each read with the port's FIFO state.
    std::function<void(int port, int available, int headroom)> on_fifo_state;
    // Called on the ADC reader thread with the packets of each read.
    std::function<void(const Neuropixels::PacketInfo* info, const int16_t* samples, int count)>
        on_adc_packets;
    // Called once acquisition has started, before the readers run, and when the acquisition
    // time is over, before stop_acquisition.
    std::function<void()> on_started;
    std::function<void()> on_stopping;
    // When set, the timed wait between start and stop ends as soon as this becomes true.
    const std::atomic<bool>* stop_requested = nullptr;
    // Reads every channel's gains back with getGain after the configuration upload.
    bool read_back_gains = false;
};

// A channel's gain select indices as the probe reports them.
struct Channel_Gains {
    int ap = 0;
    int lfp = 0;
};

struct Probe_Identity {
    std::string headstage_part_number;
    std::string probe_part_number;
    uint64_t probe_serial_number = 0;
};

struct Host_Result {
    bool ok = true;
    std::string failure; // the call that failed, with its result
    std::array<Probe_Identity, 4> identities;
    // Per port, filled when read_back_gains is set: one entry per channel.
    std::array<std::vector<Channel_Gains>, 4> gains;
    std::array<uint64_t, 4> packets{};
    uint64_t adc_packets = 0;
    double seconds = 0;
};

Host_Result run_host_sequence(const Host_Options& options);

} // namespace Selvan::MURA::host
