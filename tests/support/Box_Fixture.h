#pragma once

#include "A_MURA_Controller.h"
#include "CP_Box_Model_MURA_Controller.h"
#include "C_MURA_Controller_Library.h"
#include "MURA_Box_Model.h"
#include "Output_Capture.h"
#include "Pause_Recorder.h"

#include <gtest/gtest.h>

#include <memory>

namespace Selvan::MURA::test_support {

// A box model with a controller library on it, its waits recorded instead of slept.
class Box_Fixture : public ::testing::Test {
protected:
    void TearDown() override {
        Stdout_Capture quiet;
        library.reset();
        controller.reset();
    }

    MURA_Controller_Library& make_library(bool simulation = false) {
        Stdout_Capture quiet;
        box_model::Box_Model_Factory_Override use_box(box);
        library = std::make_unique<MURA_Controller_Library>(simulation);
        return *library;
    }

    // open, design check and pre_init, as openBS does them.
    MURA_Controller_Library& opened_library(bool simulation = false) {
        auto& lib = make_library(simulation);
        Stdout_Capture quiet;
        EXPECT_TRUE(lib.open());
        EXPECT_TRUE(lib.check_and_switch_firmware_if_nec(true));
        EXPECT_TRUE(lib.pre_init(true));
        return lib;
    }

    // A bare controller on the box with its modules, opened.
    A_MURA_Controller& opened_controller() {
        Stdout_Capture quiet;
        box_model::Box_Model_Factory_Override use_box(box);
        controller = A_MURA_Controller::get_instance(false);
        EXPECT_TRUE(controller->open_driver_connection("MURA_Dext_Driver", true));
        return *controller;
    }

    std::shared_ptr<box_model::MURA_Box_Model> box = std::make_shared<box_model::MURA_Box_Model>();
    std::unique_ptr<MURA_Controller_Library> library;
    std::shared_ptr<A_MURA_Controller> controller;
    Pause_Recorder pauses;
};

// The library in simulation mode (the simulated device, not the box model), opened and
// pre-initialised.
class Simulated_Library_Fixture : public Box_Fixture {
protected:
    void SetUp() override {
        Stdout_Capture quiet;
        library = std::make_unique<MURA_Controller_Library>(true);
        library->open();
        library->pre_init(true);
    }
};

} // namespace Selvan::MURA::test_support
