#pragma once

// Public header of np3_bridge, compiled by hosts written against version 3 of the published
// Neuropixels API. It holds the published constants and the packet records the adapter fills.
// The exported functions of the API are declared here as the adapter gains them; so far this
// header carries only the types the data path produces.

#include <cstdint>

#define NP1_PROBE_CHANNEL_COUNT 384
#define NP1_PROBE_SUPERFRAMESIZE 12
#define NP1_PROBE_ADC_COUNT 32
#define NP_MAXPAYLOADSIZE 1024

namespace Neuropixels {

const int HARDWAREID_PN_LEN = 40;

// One ADC or probe packet as returned by the packet read calls.
struct PacketInfo {
    uint32_t Timestamp;
    uint16_t Status;
    uint16_t payloadlength;
};

// Twelve AP samples of all channels with their timestamps, one LFP sample of all channels,
// and a status word per AP sample.
struct electrodePacket {
    uint32_t timestamp[NP1_PROBE_SUPERFRAMESIZE];
    int16_t apData[NP1_PROBE_SUPERFRAMESIZE][NP1_PROBE_CHANNEL_COUNT];
    int16_t lfpData[NP1_PROBE_CHANNEL_COUNT];
    uint16_t Status[NP1_PROBE_SUPERFRAMESIZE];
};

} // namespace Neuropixels
