// The stream demultiplexer fed arbitrary transfer buffers: the input chooses the RHD stream
// count and how the bytes are cut into transfers, the rest is the stream. The NP rows taken
// per port and the RHD rows forwarded must be those of a straightforward routing written here,
// every decoded value must be a 10-bit ADC code and every delivered RHD frame must carry its
// preamble; the run must end after the poison packet without hanging. (What a lost row costs
// downstream is not checked here, only that nothing breaks; the demultiplexer's tests check it.)

#include "C_Async_PSB_And_RHD_Demux.h"
#include "Checking_Channel_Listener.h"
#include "Fuzz_Support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace Selvan::MURA;
using namespace Selvan::MURA::demux;

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

// The reference routing: a transfer shorter than a row ends the stream; one whose first row
// lacks the marker is dropped whole; otherwise rows are taken up to the first row without the
// marker. An NP row is taken when its port's buffer has rows or the row starts a super frame
// (bit 11 of its first word); a full buffer is handed on when the port's next row arrives,
// and that row then needs a super-frame start of its own. Stream id 4 rows go to RHD. A port
// whose row counters break (a row lost or repeated on the way) is resynchronised by the
// demultiplexer at its next super-frame start, dropping what the break touched; such a port's
// row count is not predicted here (`broken`).
struct Reference_Routing {
    std::array<uint32_t, Async_NP_And_RHD_Demux::NP_PORT_COUNT> np_rows{};
    std::array<uint32_t, Async_NP_And_RHD_Demux::NP_PORT_COUNT> used{};
    // Each stream's first row carries counter 0.
    std::array<uint8_t, Async_NP_And_RHD_Demux::NP_PORT_COUNT> last_counter{255, 255, 255, 255};
    std::array<bool, Async_NP_And_RHD_Demux::NP_PORT_COUNT> broken{};
    uint32_t rhd_rows = 0;
    bool ended = false;

    void route(const std::vector<uint8_t>& transfer) {
        if (ended || transfer.size() < 16) {
            ended = true;
            return;
        }
        for (size_t row = 0; row + 16 <= transfer.size(); row += 16) {
            const uint8_t* bytes = transfer.data() + row;
            if ((bytes[0] >> 4) != 0xD)
                return;
            const uint8_t id = bytes[0] & 0xF;
            if (id == 4)
                ++rhd_rows;
            if (id >= 4)
                continue;
            broken[id] = broken[id] || bytes[1] != static_cast<uint8_t>(last_counter[id] + 1);
            last_counter[id] = bytes[1];
            if (used[id] == NP_Accumulation_Buffer::CAPACITY)
                used[id] = 0;
            if (used[id] != 0 || (bytes[3] & 0x08) != 0) {
                used[id] += 14;
                ++np_rows[id];
            }
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::silence_diagnostics();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const uint32_t rhd_streams = input.ConsumeIntegralInRange<uint32_t>(0, RHD_Frame::MAX_STREAM_COUNT);
    const auto channels = std::make_shared<fuzzing::Checking_Channel_Listener>();
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
    Reference_Routing reference;
    while (input.remaining_bytes() > 0) {
        const size_t length = input.ConsumeIntegralInRange<size_t>(1, 4096);
        const std::vector<uint8_t> transfer = input.ConsumeBytes<uint8_t>(length);
        if (transfer.empty())
            continue;
        demux.push_xfer_buffer_to_queue(transfer.data(), static_cast<uint32_t>(transfer.size()));
        reference.route(transfer);
    }
    demux.poison_queue();
    main_thread.join();
    fuzzing::require(demux.is_finished(), "run() returned without finishing");
    for (uint32_t port = 0; port < Async_NP_And_RHD_Demux::NP_PORT_COUNT; ++port)
        fuzzing::require(reference.broken[port] ||
                             demux.get_np_rows_processed(port) == reference.np_rows[port],
                         "NP rows taken differ from the reference routing");
    fuzzing::require(demux.get_rhd_rows_processed() == reference.rhd_rows,
                     "RHD rows forwarded differ from the reference routing");
    return 0;
}
