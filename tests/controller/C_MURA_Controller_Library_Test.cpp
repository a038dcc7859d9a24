#include "A_MURA_Controller.h"
#include "CP_Box_Model_MURA_Controller.h"
#include "C_MURA_Controller_Library.h"
#include "Log_Capture.h"
#include "Output_Capture.h"
#include "Pause_Recorder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace Selvan::MURA {
namespace {

using box_model::MURA_Box_Model;
using box_model::Register_Access;
using test_support::Log_Capture;
using test_support::Pause_Recorder;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;
using ::testing::ElementsAre;
using namespace std::chrono_literals;

// The library in hardware mode against a box model, with every pause recorded instead of slept.
class LibraryOnBoxModel : public ::testing::Test {
protected:
    void SetUp() override { box = std::make_shared<MURA_Box_Model>(); }
    void TearDown() override {
        Stdout_Capture quiet;
        library.reset();
    }

    MURA_Controller_Library& make_library(bool simulation = false) {
        Stdout_Capture quiet;
        box_model::Box_Model_Factory_Override use_box(box);
        library = std::make_unique<MURA_Controller_Library>(simulation);
        return *library;
    }

    std::shared_ptr<MURA_Box_Model> box;
    std::unique_ptr<MURA_Controller_Library> library;
    Pause_Recorder pauses;
};

TEST_F(LibraryOnBoxModel, ConstructionLogsTheModeAndLeavesTheDeviceAlone) {
    Log_Capture capture;
    make_library();
    EXPECT_EQ(capture.texts(),
              (std::vector<std::string>{"{ Async_NP_And_RHD_Demux", "} Async_NP_And_RHD_Demux",
                                        "MURA_Controller_Library ctor. (HW mode)"}));
    EXPECT_EQ(box->open_count(), 0u);
    EXPECT_TRUE(box->register_reads().empty());
    EXPECT_TRUE(box->register_writes().empty());
    EXPECT_FALSE(library->is_in_simulation_mode());
    EXPECT_EQ(library->get_current_error_level(), 0u);
    EXPECT_EQ(library->get_np_port_count_from_fpga_signature(), 0);
    EXPECT_EQ(library->get_cached_np_port_status(), 0);
    EXPECT_EQ(library->get_library_version(), "1.0");
}

TEST_F(LibraryOnBoxModel, MatchingDesignOpensChecksAndPowersThePorts) {
    box->set_signature(0x4E500020); // two NP ports
    box->set_port_pll_status(0xE);  // port 1 locked; ports 2 and 3 are not in the design
    auto& lib = make_library();
    Log_Capture capture(logging::Verbosity_INFO);
    ASSERT_TRUE(lib.open());
    ASSERT_TRUE(lib.check_and_switch_firmware_if_nec(true));
    ASSERT_TRUE(lib.pre_init(true));

    EXPECT_EQ(box->open_count(), 1u);
    EXPECT_EQ(box->boot_count(), 0u);
    EXPECT_EQ(lib.get_np_port_count_from_fpga_signature(), 2);
    EXPECT_EQ(lib.get_cached_np_port_status(), 0x2);
    EXPECT_EQ(box->control_word(), 0x540u);
    EXPECT_THAT(box->register_writes(), ElementsAre(Register_Access{0, 0}, Register_Access{0, 0x40},
                                                    Register_Access{0, 0x140}, Register_Access{0, 0x540}));
    EXPECT_TRUE(pauses.pauses().empty());
    EXPECT_EQ(box->accesses_while_closed(), 0u);

    const auto texts = capture.texts();
    const std::vector<std::string> expected_identity = {"{ pre_init",
                                                        "MURA_Controller_Library::pre_init(), simulation = 0",
                                                        "FPGA design build timestamp : 07-12-2024\n",
                                                        "FPGA digital_design_signature : 4e500020\n",
                                                        "NP port_count_parameter_from_fpga : 2\n",
                                                        "FPGA efuse_usr : 0badf00d\n",
                                                        "FPGA temperature : 34.47\n",
                                                        "{ check_np_ports_status",
                                                        "Available NP port count from FPGA : 2",
                                                        "Masked pll status : 2",
                                                        "# Appearent status of NP Ports  #",
                                                        "NP Port 1 PCLK Locked : No",
                                                        "NP Port 2 PCLK Locked : Yes",
                                                        "NP Port 3 PCLK Locked : No",
                                                        "NP Port 4 PCLK Locked : No",
                                                        "At least one NP Port PLL lock",
                                                        "} check_np_ports_status",
                                                        "} pre_init"};
    const auto pre_init_start = std::find(texts.begin(), texts.end(), "{ pre_init");
    ASSERT_NE(pre_init_start, texts.end());
    EXPECT_EQ(std::vector<std::string>(pre_init_start, texts.end()), expected_identity);
    EXPECT_TRUE(capture.contains("digital_design_id matched"));
}

TEST_F(LibraryOnBoxModel, PreInitPrintsTheControlWordStepsAndTheSignatureRead) {
    auto& lib = make_library();
    ASSERT_TRUE(lib.open());
    Stdout_Capture out;
    ASSERT_TRUE(lib.pre_init(true));
    const std::string printed = out.take();
    EXPECT_NE(printed.find("Setting ONE mode\nset_QRB004_Power on\nAssigning port_4 to NP\n"),
              std::string::npos);
    EXPECT_NE(printed.find("GPIO Second data at adres : 0x208\n"), std::string::npos);
}

TEST_F(LibraryOnBoxModel, MismatchWithoutSwitchingLeavesTheConfigurationPortAlone) {
    box->set_signature(0x52480020);
    auto& lib = make_library();
    ASSERT_TRUE(lib.open());
    Log_Capture capture;
    EXPECT_FALSE(lib.check_and_switch_firmware_if_nec(false));
    EXPECT_TRUE(capture.contains("digital_design_id not matched"));
    EXPECT_TRUE(box->register_writes().empty());
    EXPECT_EQ(box->boot_count(), 0u);
}

TEST_F(LibraryOnBoxModel, MismatchSwitchesTheDesignThroughTheConfigurationPortAndReopens) {
    box->set_signature(0x52480020);
    box->add_flash_design(0xB00000, 0x4E500030);
    auto& lib = make_library();
    ASSERT_TRUE(lib.open());
    Log_Capture capture;
    ASSERT_TRUE(lib.check_and_switch_firmware_if_nec(true));

    EXPECT_THAT(box->register_writes(),
                ElementsAre(Register_Access{0x400, 0x10}, Register_Access{0x404, 0xB00000},
                            Register_Access{0x408, 1}, Register_Access{0x408, 0}, Register_Access{0x400, 4},
                            Register_Access{0x404, 15}, Register_Access{0x408, 1}));
    EXPECT_EQ(box->boot_count(), 1u);
    EXPECT_EQ(box->close_count(), 1u);
    EXPECT_EQ(box->open_count(), 2u);
    EXPECT_EQ(pauses.pauses(), std::vector<std::chrono::milliseconds>{10000ms});
    EXPECT_EQ(box->accesses_while_closed(), 0u);
    const auto texts = capture.texts();
    const std::vector<std::string> expected = {"{ check_and_switch_firmware_if_nec",
                                               "FPGA digital_design_signature : 52480020\n",
                                               "Switching FPGA design",
                                               "Waiting for reboot of the FPGA",
                                               "Wait end",
                                               "{ open",
                                               "} open",
                                               "} check_and_switch_firmware_if_nec"};
    EXPECT_EQ(texts, expected);

    // The reopened box runs the Neuropixels design with three ports.
    box->clear_access_logs();
    ASSERT_TRUE(lib.pre_init(true));
    EXPECT_EQ(lib.get_np_port_count_from_fpga_signature(), 3);
    EXPECT_EQ(lib.get_cached_np_port_status(), 0x7);
    EXPECT_EQ(lib.get_design_identifier_from_fpga(), "4e500030");
}

TEST_F(LibraryOnBoxModel, SwitchFailsWhenTheReopenFails) {
    box->set_signature(0x52480020);
    auto& lib = make_library();
    ASSERT_TRUE(lib.open());
    box->set_faults({.open_fails = true});
    Log_Capture capture;
    EXPECT_FALSE(lib.check_and_switch_firmware_if_nec(true));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "Open driver failed"));
    EXPECT_EQ(lib.get_current_error_level(), 2u);
}

TEST_F(LibraryOnBoxModel, ConfigurationPortThatNeverFinishesEndsTheSwitchWithoutRebooting) {
    box->set_signature(0x52480020);
    box->set_faults({.foreign_icap_never_done = true});
    auto& lib = make_library();
    ASSERT_TRUE(lib.open());
    Log_Capture capture;
    Stderr_Capture err;
    EXPECT_FALSE(lib.check_and_switch_firmware_if_nec(true));
    EXPECT_EQ(err.take(), "Foreign HW_ICAP_Module : icap_done timeout, boot command not sent\n");
    EXPECT_TRUE(capture.contains(
        logging::Verbosity_ERROR,
        "FPGA design switch failed: the configuration port did not accept the boot address"));
    EXPECT_EQ(box->boot_count(), 0u);
    EXPECT_EQ(box->close_count(), 0u);
    EXPECT_EQ(pauses.count(100ms), 100u);
    EXPECT_EQ(pauses.count(10000ms), 0u);
}

TEST_F(LibraryOnBoxModel, PortsThatNeverLockFailPreInitAfterFiveAttempts) {
    box->set_signature(0x4E500020);
    box->set_port_pll_status(0x0C); // only ports outside the two-port design report lock
    auto& lib = make_library();
    ASSERT_TRUE(lib.open());
    Log_Capture capture;
    EXPECT_FALSE(lib.pre_init(true));
    EXPECT_EQ(pauses.pauses(), std::vector<std::chrono::milliseconds>(5, 1000ms));
    EXPECT_EQ(capture.count("Waiting for NP Port PLL lock"), 5u);
    EXPECT_EQ(capture.count("Masked pll status : 0"), 5u);
    EXPECT_TRUE(capture.contains(logging::Verbosity_WARNING,
                                 "check_np_ports_status failed check connector connections"));
    EXPECT_EQ(lib.get_cached_np_port_status(), 0);
}

TEST_F(LibraryOnBoxModel, InvalidPortCountInTheSignatureFailsEveryAttempt) {
    for (uint32_t signature : {0x4E500000u, 0x4E500050u}) {
        box->set_signature(signature);
        auto& lib = make_library();
        ASSERT_TRUE(lib.open());
        Log_Capture capture;
        EXPECT_FALSE(lib.pre_init(true));
        EXPECT_EQ(capture.count("Invalid m_np_port_count_parameter_from_fpga"), 5u) << std::hex << signature;
    }
}

TEST_F(LibraryOnBoxModel, FailedOpenSetsErrorLevelTwo) {
    box->set_faults({.open_fails = true});
    auto& lib = make_library();
    Log_Capture capture;
    EXPECT_FALSE(lib.open());
    EXPECT_EQ(capture.texts(), (std::vector<std::string>{"{ open", "Open driver failed", "} open"}));
    EXPECT_EQ(lib.get_current_error_level(), MURA_Controller_Library::ERROR_LEVEL_OPEN_FAILED);
}

TEST_F(LibraryOnBoxModel, SimulationNeverTouchesTheDevice) {
    auto& lib = make_library(true);
    Log_Capture capture;
    EXPECT_TRUE(lib.open());
    EXPECT_TRUE(lib.check_and_switch_firmware_if_nec(true));
    EXPECT_TRUE(lib.pre_init(true));
    EXPECT_EQ(lib.get_cached_np_port_status(), 1);
    EXPECT_EQ(lib.get_np_port_count_from_fpga_signature(), 2);
    EXPECT_TRUE(box->register_reads().empty());
    EXPECT_TRUE(box->register_writes().empty());
    EXPECT_TRUE(capture.contains("check_and_switch_firmware_if_nec skipped because of simulation mode"));
    EXPECT_TRUE(capture.contains("MURA_Controller_Library::pre_init(), simulation = 1"));
    EXPECT_TRUE(capture.contains("Simulating pll status : 1"));
    EXPECT_TRUE(pauses.pauses().empty());
}

TEST_F(LibraryOnBoxModel, IdentityGetters) {
    box->set_build_timestamp((7u << 27) | (8u << 23) | (22u << 17));
    box->set_xadc_raw(0x9C40);
    box->set_efuse(0x1234ABCD);
    auto& lib = make_library();
    ASSERT_TRUE(lib.open());
    EXPECT_EQ(lib.get_design_build_date(), "07-08-2022");
    EXPECT_NEAR(lib.get_fpga_temperature(), 34.47, 0.01);
    EXPECT_EQ(lib.get_fpga_efuse(), 0x1234ABCDu);
    EXPECT_EQ(lib.get_design_identifier_from_fpga(), "4e500040");
}

TEST_F(LibraryOnBoxModel, IcapBootSendsTheWarmBootPacketThroughTheHwicap) {
    box->set_signature(0x52480020);
    box->add_flash_design(0x400000, 0x4E500010);
    auto& lib = make_library();
    ASSERT_TRUE(lib.open());
    Log_Capture capture;
    EXPECT_TRUE(lib.icap_boot(0x400000));
    EXPECT_THAT(box->hw_icap_words(), ElementsAre(0xFFFFFFFF, 0xAA995566, 0x20000000, 0x30020001, 0x00004000,
                                                  0x30008001, 0x0000000F, 0x20000000));
    EXPECT_EQ(box->boot_count(), 1u);
    EXPECT_EQ(box->signature(), 0x4E500010u);
    EXPECT_EQ(capture.texts(), (std::vector<std::string>{"{ icap_boot", "} icap_boot"}));
}

TEST_F(LibraryOnBoxModel, IcapBootReportsAPortThatNeverFinishes) {
    box->set_faults({.hw_icap_never_done = true});
    auto& lib = make_library();
    ASSERT_TRUE(lib.open());
    Stderr_Capture err;
    EXPECT_FALSE(lib.icap_boot(0xB00000));
    EXPECT_EQ(err.take(), "M_HW_ICAP_Module :: write done timeout\n");
    EXPECT_EQ(box->boot_count(), 0u);
}

TEST_F(LibraryOnBoxModel, DestructionLogsAndClosesTheDevice) {
    auto& lib = make_library();
    ASSERT_TRUE(lib.open());
    Log_Capture capture;
    {
        Stdout_Capture printed;
        library.reset();
        EXPECT_EQ(printed.take(), "CP_Box_Model_MURA_Controller dtor, closing driver connection\n"
                                  "A_MURA_Controller dtor\n"
                                  "XADC_Module dtor\n"
                                  "Data stream module dtor\n");
    }
    // Streaming was never prepared: the sources are switched off and there is no thread to stop.
    EXPECT_EQ(
        capture.texts(),
        (std::vector<std::string>{
            "MURA_Controller_Library dtor", "{ finalize_stream", "{ disable_data_sources",
            "} disable_data_sources", "Purge on exit disabled", "{ stop_main_demux_thread",
            "m_main_demux_thread_started already not started", "} stop_main_demux_thread",
            "Read issue counter : 0", "Total processed SF counter : 0", "Total processed RHD frames : 0",
            "} finalize_stream", "{ ~Async_NP_And_RHD_Demux", "} ~Async_NP_And_RHD_Demux"}));
    EXPECT_THAT(box->register_writes(), ElementsAre(Register_Access{0x0000, 0}, Register_Access{0x1000, 0}));
    EXPECT_FALSE(box->is_open());
}

TEST(LibraryInSimulation, BuildsTheSimulatedControllerAndLogsTheMode) {
    Log_Capture capture;
    Stdout_Capture out;
    MURA_Controller_Library library(true);
    EXPECT_TRUE(library.is_in_simulation_mode());
    EXPECT_EQ(capture.texts().back(), "MURA_Controller_Library ctor. (Simulation mode)");
    EXPECT_TRUE(library.open());
    EXPECT_EQ(out.take().find("A_MURA_Controller ctor\n"), 0u);
}

} // namespace
} // namespace Selvan::MURA
