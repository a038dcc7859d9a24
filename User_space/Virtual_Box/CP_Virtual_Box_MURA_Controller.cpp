#include "CP_Virtual_Box_MURA_Controller.h"

#include "MURA_Box_Model.h"

#include <algorithm>
#include <bit>
#include <thread>

namespace Selvan::MURA::box_model {
namespace {

constexpr auto READ_TIME_LIMIT = std::chrono::seconds(1);
constexpr auto LONGEST_WAIT_FOR_DUE_DATA = std::chrono::milliseconds(250);
constexpr auto STREAM_CHECK_INTERVAL = std::chrono::milliseconds(5);
constexpr auto READ_WAIT_WITHOUT_STREAMS = std::chrono::milliseconds(10);

bool operator==(const Card_To_Host_Stream_Model::Enabled_Streams& a,
                const Card_To_Host_Stream_Model::Enabled_Streams& b) {
    return a.np_port_mask == b.np_port_mask && a.rhd == b.rhd;
}

} // namespace

CP_Virtual_Box_MURA_Controller::CP_Virtual_Box_MURA_Controller(std::shared_ptr<MURA_Box_Model> box,
                                                               std::shared_ptr<C_Paced_Stream_Source> source)
    : CP_Box_Model_MURA_Controller(std::move(box))
    , m_source(std::move(source)) {}

uint32_t CP_Virtual_Box_MURA_Controller::read_stream(uint64_t reserved, bool wait_for_full) {
    if (wait_for_full)
        wait_until_due();
    return CP_Box_Model_MURA_Controller::read_stream(reserved, wait_for_full);
}

bool CP_Virtual_Box_MURA_Controller::wait_for_stream_data(uint32_t,
                                                          std::chrono::steady_clock::duration waited) {
    if (waited >= READ_TIME_LIMIT || (waited >= READ_WAIT_WITHOUT_STREAMS && !box().streams_enabled()))
        return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void CP_Virtual_Box_MURA_Controller::wait_until_due() {
    const auto enabled = box().enabled_streams();
    if (!m_source || (enabled.np_port_mask == 0 && !enabled.rhd))
        return;
    const auto now = std::chrono::steady_clock::now();
    const auto due =
        std::min(m_source->due_time(prepared_length(), std::popcount(enabled.np_port_mask), enabled.rhd),
                 now + LONGEST_WAIT_FOR_DUE_DATA);
    for (auto time = now; time < due; time = std::chrono::steady_clock::now()) {
        std::this_thread::sleep_until(std::min(due, time + STREAM_CHECK_INTERVAL));
        if (!(box().enabled_streams() == enabled))
            return;
    }
}

} // namespace Selvan::MURA::box_model
