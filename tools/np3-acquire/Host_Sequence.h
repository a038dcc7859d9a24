#pragma once

// The call sequence acquisition software runs against the Neuropixels API, from the device
// list to closing the basestation, with a reader thread per port. Used by np3-acquire and by
// the end-to-end tests; it knows nothing but NeuropixAPI.h.

#include "NeuropixAPI.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Selvan::MURA::host {

struct Host_Options {
    std::vector<int> ports{1, 2, 3, 4};
    std::string adc_calibration_file;  // empty: the probe keeps its default table
    std::string gain_calibration_file; // empty: no gain correction
    // Each reader stops after this many packets; 0 reads until `duration` has passed.
    uint64_t packets_per_port = 0;
    std::chrono::milliseconds duration{2000};
    int packets_per_read = 10;
    uint64_t adc_packets = 0; // 0: ADC packets are read until the stop as well
    // Called on the port's reader thread for every packet read.
    std::function<void(int port, const Neuropixels::electrodePacket& packet)> on_packet;
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
    std::array<uint64_t, 4> packets{};
    uint64_t adc_packets = 0;
    double seconds = 0;
};

Host_Result run_host_sequence(const Host_Options& options);

} // namespace Selvan::MURA::host
