#pragma once

#include "CP_Box_Model_MURA_Controller.h"
#include "Log_Capture.h"
#include "MURA_Box_Model.h"
#include "NeuropixAPI.h"
#include "Output_Capture.h"
#include "Pause_Recorder.h"
#include "Scratch_Directory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>

namespace Selvan::MURA::test_support {

// Each API test runs in its own process (the adapter's state is process-wide) and in its own
// scratch working directory, where the marker files and recordings go. Waits are recorded
// instead of slept.
class Api_Fixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous_directory = std::filesystem::current_path();
        std::filesystem::current_path(scratch.path());
    }
    void TearDown() override {
        {
            Stdout_Capture quiet;
            Neuropixels::stop_acquisition(0, 1);
            Neuropixels::closeBS(0);
        }
        box_override.reset();
        std::filesystem::current_path(m_previous_directory);
    }

    void write_marker(const char* name, const std::string& first_line) {
        std::ofstream(name) << first_line << "\n";
    }
    // Hardware mode against the box model: no simulation marker, the factory builds box
    // model controllers.
    void use_box_model() { box_override.emplace(box); }

    Scratch_Directory scratch;
    Pause_Recorder pauses;
    std::shared_ptr<box_model::MURA_Box_Model> box = std::make_shared<box_model::MURA_Box_Model>();
    std::optional<box_model::Box_Model_Factory_Override> box_override;

private:
    std::filesystem::path m_previous_directory;
};

// Reads as hosts do (a read returns at once with what is queued): polls, sleeping a millisecond
// while packets are missing, until `count` have come, a read fails or `limit` has passed;
// returns how many came.
template <class Read>
int poll_packets(int count, std::chrono::milliseconds limit, Read&& read) {
    int got = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (got < count && std::chrono::steady_clock::now() < deadline) {
        int actual = 0;
        if (read(got, count - got, &actual) != Neuropixels::SUCCESS)
            break;
        got += actual;
        if (got < count)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return got;
}

inline int poll_electrode_packets(int port, Neuropixels::electrodePacket* packets, int count,
                                  std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return poll_packets(count, limit, [&](int got, int wanted, int* actual) {
        return Neuropixels::readElectrodeData(0, port, 0, packets + got, actual, wanted);
    });
}

inline int poll_adc_packets(Neuropixels::PacketInfo* info, int16_t* data, int count,
                            std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return poll_packets(count, limit, [&](int got, int wanted, int* actual) {
        return Neuropixels::ADC_readPackets(0, info + got, data + 12 * got, 12, wanted, actual);
    });
}

} // namespace Selvan::MURA::test_support
