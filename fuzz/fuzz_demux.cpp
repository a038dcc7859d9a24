// The stream demultiplexer fed arbitrary transfer buffers: the input chooses the RHD stream
// count and how the bytes are cut into transfers, the rest is the stream. Every decoded value
// must be a 10-bit ADC code and every delivered RHD frame must carry its preamble; the run
// must end after the poison packet without hanging.

#include "C_Async_PSB_And_RHD_Demux.h"
#include "Fuzz_Support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace Selvan::MURA;
using namespace Selvan::MURA::demux;

class Checking_Channel_Listener : public I_L2_Demux_CH_Results {
public:
    void publish_ap_ch_data(Channel_Block& block) override { check(block); }
    void publish_lp_ch_data(Channel_Block& block) override { check(block); }

private:
    static void check(const Channel_Block& block) {
        for (uint16_t sample : block)
            fuzzing::require(sample <= 0x3FF, "a channel sample wider than 10 bits");
    }
};

class Checking_RHD_Listener : public I_RHD_Frame_Listener {
public:
    explicit Checking_RHD_Listener(uint32_t streams)
        : m_streams(streams) {}
    void on_rhd_frame(const RHD_Frame& frame) override {
        fuzzing::require(frame.preamble == RHD_Frame::PREAMBLE, "an RHD frame without its preamble");
        fuzzing::require(frame.stream_count == m_streams, "an RHD frame with another stream count");
    }

private:
    uint32_t m_streams;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::silence_diagnostics();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const uint32_t rhd_streams = input.ConsumeIntegralInRange<uint32_t>(0, RHD_Frame::MAX_STREAM_COUNT);
    const auto channels = std::make_shared<Checking_Channel_Listener>();
    const auto rhd = std::make_shared<Checking_RHD_Listener>(rhd_streams);
    Async_NP_And_RHD_Demux demux;
    for (uint32_t port = 0; port < Async_NP_And_RHD_Demux::NP_PORT_COUNT; ++port)
        demux.set_L2_CH_Results_Listener(channels, port);
    demux.set_RHD_Results_Listener(rhd);
    demux.set_enabled_RHD_stream_count(rhd_streams);
    demux.start_worker_threads();
    demux.signal_to_resync();
    std::thread main_thread([&demux] { demux.run(); });
    // The pump hands over whole rows, but the demultiplexer must survive any length except 0,
    // which is the poison packet's.
    while (input.remaining_bytes() > 0) {
        const size_t length = input.ConsumeIntegralInRange<size_t>(1, 4096);
        const std::vector<uint8_t> transfer = input.ConsumeBytes<uint8_t>(length);
        if (!transfer.empty())
            demux.push_xfer_buffer_to_queue(transfer.data(), static_cast<uint32_t>(transfer.size()));
    }
    demux.poison_queue();
    main_thread.join();
    fuzzing::require(demux.is_finished(), "run() returned without finishing");
    return 0;
}
