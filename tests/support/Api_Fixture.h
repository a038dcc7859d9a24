#pragma once

#include "CP_Box_Model_MURA_Controller.h"
#include "Log_Capture.h"
#include "MURA_Box_Model.h"
#include "NeuropixAPI.h"
#include "Output_Capture.h"
#include "Pause_Recorder.h"
#include "Scratch_Directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

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

} // namespace Selvan::MURA::test_support
