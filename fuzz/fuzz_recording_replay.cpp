// A recording replayed by the virtual box through the hardware pump: the input chooses which
// streams are on, how many RHD streams a frame has and the sizes of the device reads (rows
// split across reads, reads that return nothing), the rest is the recording. Every row the box
// delivers must reach the demultiplexer exactly once when its markers are good, decoded
// samples stay 10-bit codes, and the stop must not hang.

#include "A_MURA_Controller.h"
#include "CP_Box_Model_MURA_Controller.h"
#include "C_Streaming_Control.h"
#include "Checking_Channel_Listener.h"
#include "Fuzz_Support.h"
#include "MURA_Box_Model.h"
#include "Pause.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace {

using namespace Selvan::MURA;
using namespace Selvan::MURA::demux;

constexpr uint32_t ROW_BYTES = 16;

bool every_row_marked(const std::vector<uint8_t>& recording) {
    for (size_t row = 0; row + ROW_BYTES <= recording.size(); row += ROW_BYTES) {
        if ((recording[row] >> 4) != 0xD)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::silence_diagnostics();
    // The box model's waits for stream data take no time.
    set_pause_function([](std::chrono::milliseconds) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const uint32_t port_mask = input.ConsumeIntegralInRange<uint32_t>(0, 0xF);
    const bool rhd = input.ConsumeBool();
    const uint32_t rhd_stream_count = input.ConsumeIntegralInRange<uint32_t>(0, 8);
    std::vector<uint32_t> read_sizes(input.ConsumeIntegralInRange<size_t>(0, 4));
    for (uint32_t& read_size : read_sizes)
        read_size = input.ConsumeIntegralInRange<uint32_t>(0, 3 * 4096);
    const auto recording =
        std::make_shared<const std::vector<uint8_t>>(input.ConsumeRemainingBytes<uint8_t>());

    auto box = std::make_shared<box_model::MURA_Box_Model>();
    box->stream().set_source(box_model::Card_To_Host_Stream_Model::recording(recording, false));
    box->stream().set_read_sizes(read_sizes);
    std::shared_ptr<A_MURA_Controller> controller;
    {
        // The factory builds the controller with its register modules, as the library gets it.
        box_model::Box_Model_Factory_Override use_box(box);
        controller = A_MURA_Controller::get_instance(false);
    }
    controller->open_driver_connection("MURA_Dext_Driver", true);

    std::atomic<uint32_t> error_level{C_Streaming_Control::ERROR_LEVEL_NONE};
    std::mutex control_word_lock;
    const auto listener = std::make_shared<fuzzing::Checking_Channel_Listener>();
    uint32_t rows_examined = 0;
    {
        C_Streaming_Control streaming(controller, false, error_level, control_word_lock);
        streaming.create_gain_filters();
        std::vector<uint32_t> ports;
        for (uint32_t port = 0; port < 4; ++port) {
            streaming.set_NP_aqustion_listener(listener, port, true);
            if ((port_mask >> port) & 1)
                ports.push_back(port);
        }
        std::vector<uint32_t> rhd_streams;
        for (uint32_t stream = 0; stream < rhd_stream_count; ++stream)
            rhd_streams.push_back(stream);
        streaming.prepare_for_streaming();
        streaming.enable_streaming(!ports.empty(), ports, rhd, rhd_streams, false);
        // Pumps until a pump brings nothing new; each pump reads until the box has nothing.
        uint64_t pumped = ~0ull;
        while (pumped != streaming.get_total_bytes_pumped()) {
            pumped = streaming.get_total_bytes_pumped();
            fuzzing::require(streaming.pump_data_to_demux(), "a pump from a healthy box failed");
        }
        streaming.disable_streaming();
        streaming.stop_main_demux_thread();
        rows_examined = streaming.get_demux().get_row_index();
        fuzzing::require(pumped == box->stream().bytes_delivered(), "the pump lost count of the bytes read");
    }
    const bool nothing_filtered = port_mask == 0xF && rhd;
    if (nothing_filtered && every_row_marked(*recording))
        fuzzing::require(rows_examined == box->stream().bytes_delivered() / ROW_BYTES,
                         "rows delivered by the box did not all reach the demultiplexer once");
    return 0;
}
