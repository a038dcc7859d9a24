#include "Api_Fixture.h"

#include <gmock/gmock.h>

#include <thread>

namespace Selvan::MURA {
namespace {

using namespace Neuropixels;
using test_support::Log_Capture;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;

class ApiLifecycle : public test_support::Api_Fixture {};

TEST_F(ApiLifecycle, DeviceListAddsTheLogFileOnceAndReportsOneBasestation) {
    basestationID list[2] = {{NPPlatform_None, 7}, {NPPlatform_None, 7}};
    EXPECT_EQ(getDeviceList(list, 2), 1);
    EXPECT_EQ(list[0].platformid, NPPlatform_USB);
    EXPECT_EQ(list[0].ID, 1);
    EXPECT_EQ(list[1].ID, 7);
    ASSERT_TRUE(std::filesystem::exists("MURA.log"));
    // The second call does not truncate the file again.
    logging::info("between the calls");
    EXPECT_EQ(getDeviceList(list, 1), 1);
    std::ifstream log("MURA.log");
    std::string text((std::istreambuf_iterator<char>(log)), {});
    const auto between = text.find("between the calls");
    ASSERT_NE(between, std::string::npos) << text;
    EXPECT_NE(text.find("count : 1", between), std::string::npos) << text;
}

TEST_F(ApiLifecycle, DeviceListWithoutRoomWritesNothing) {
    basestationID entry{NPPlatform_None, 7};
    EXPECT_EQ(getDeviceList(&entry, 0), 1);
    EXPECT_EQ(entry.ID, 7);
    EXPECT_EQ(getDeviceList(nullptr, 4), 1);
}

// A PXI box sits in chassis slot 2 (where hosts look first), any other in slot 0; slot 0 also
// names a PXI box, for one-slot tools. Other slots and IDs hold nothing.
TEST_F(ApiLifecycle, SlotsAndIdsNameTheOneBox) {
    Stderr_Capture err;
    const auto box_in = [](int slot) {
        basestationID info{NPPlatform_None, 0};
        const NP_ErrorCode code = getDeviceInfo(slot, &info);
        return std::tuple{code, info.platformid, info.ID};
    };
    const auto slot_of = [](basestationID id) {
        int slot = 99;
        return tryGetSlotID(&id, &slot) ? slot : -slot;
    };
    EXPECT_EQ(box_in(0), std::tuple(SUCCESS, NPPlatform_USB, 1));
    EXPECT_EQ(box_in(2), std::tuple(NO_SLOT, NPPlatform_None, 0));
    EXPECT_EQ(slot_of({NPPlatform_USB, 1}), 0);
    EXPECT_EQ(slot_of({NPPlatform_USB, 42}), -99);
    EXPECT_FALSE(tryGetSlotID(nullptr, nullptr));
    write_marker("MURA_NPAPI_ADAPTER_SETTINGS", "platform = PXI");
    EXPECT_EQ(box_in(2), std::tuple(SUCCESS, NPPlatform_PXI, 1));
    EXPECT_EQ(box_in(0), std::tuple(SUCCESS, NPPlatform_PXI, 1));
    EXPECT_EQ(box_in(3), std::tuple(NO_SLOT, NPPlatform_None, 0));
    EXPECT_EQ(slot_of({NPPlatform_PXI, 1}), 2);
}

TEST_F(ApiLifecycle, SimulationMarkerSelectsSimulationAndNamesTheRecording) {
    std::ofstream("rec.bin", std::ios::binary) << std::string(16, '\0');
    write_marker("MURA_NPAPI_ADAPTER_SIM", "rec.bin");
    Stdout_Capture out;
    Log_Capture capture;
    EXPECT_EQ(openBS(0), SUCCESS);
    const std::string printed = out.take();
    EXPECT_NE(printed.find("MURA_NPAPI_ADAPTER_SIM file present in working directory\n"), std::string::npos);
    EXPECT_NE(printed.find("Sim file opened : rec.bin\n"), std::string::npos);
    EXPECT_TRUE(capture.contains("MURA_Controller_Library ctor. (Simulation mode)"));
    EXPECT_TRUE(capture.contains("Converter data structures prepared (0)"));
    EXPECT_TRUE(capture.contains("{ openBS"));
    EXPECT_TRUE(capture.contains("slotID : 0"));
}

TEST_F(ApiLifecycle, WithoutTheMarkerTheBoxIsOpenedInHardwareMode) {
    use_box_model();
    Stdout_Capture out;
    Log_Capture capture;
    EXPECT_EQ(openBS(0), SUCCESS);
    EXPECT_NE(out.take().find("MURA_NPAPI_ADAPTER_SIM not present in working directory\n"),
              std::string::npos);
    EXPECT_TRUE(capture.contains("MURA_Controller_Library ctor. (HW mode)"));
    EXPECT_EQ(box->open_count(), 1u);
    EXPECT_EQ(box->control_word(), 0x5C0u); // ONE mode, QRB004 power, port 4 to NP, tlast mode
}

TEST_F(ApiLifecycle, FailingBringUpReportsVersionMismatch) {
    use_box_model();
    box->set_faults({.open_fails = true});
    Stdout_Capture quiet;
    EXPECT_EQ(openBS(0), VERSION_MISMATCH);
    box->set_faults({});
    box->set_port_pll_status(0);
    EXPECT_EQ(openBS(0), VERSION_MISMATCH);
}

// The platform's own device class, with no box in the machine: the open fails cleanly and the
// host goes on.
TEST_F(ApiLifecycle, WithoutABoxTheHardwareOpenFails) {
    Stdout_Capture out;
    Stderr_Capture err;
    EXPECT_EQ(openBS(0), VERSION_MISMATCH);
    EXPECT_EQ(VERSION_MISMATCH, 5);
#if defined(_WIN32)
    EXPECT_NE(out.take().find("Devices found: 0\n"), std::string::npos);
#else
    EXPECT_NE(err.take().find("Error opening device /dev/xdma0_user"), std::string::npos);
#endif
    EXPECT_EQ(openPort(0, 1), FAILED);
}

TEST_F(ApiLifecycle, MissingRecordingFailsTheOpen) {
    write_marker("MURA_NPAPI_ADAPTER_SIM", "absent.bin");
    Stdout_Capture out;
    EXPECT_EQ(openBS(0), VERSION_MISMATCH);
    EXPECT_NE(out.take().find("Sim file open error : absent.bin\n"), std::string::npos);
}

TEST_F(ApiLifecycle, ReopeningWarns) {
    use_box_model();
    Stdout_Capture quiet;
    ASSERT_EQ(openBS(0), SUCCESS);
    Log_Capture capture;
    ASSERT_EQ(openBS(0), SUCCESS);
    EXPECT_TRUE(capture.contains("Warning re initalizing library. slotID : 0"));
}

TEST_F(ApiLifecycle, InitUsesTheConfigurationOfTheMarkerFile) {
    struct Case {
        std::optional<std::string> marker;
        int config;
        bool conversion_message;
    };
    for (const Case& c : {Case{std::nullopt, 1, false}, Case{"2", 2, false}, Case{"letters", 1, true},
                          Case{"3 and more", 3, false}, Case{"99999999999", 1, true}}) {
        std::filesystem::remove("MURA_NP_INIT_MODE");
        if (c.marker)
            write_marker("MURA_NP_INIT_MODE", *c.marker);
        std::ofstream("rec.bin") << std::string(16, '\0');
        write_marker("MURA_NPAPI_ADAPTER_SIM", "rec.bin");
        Stdout_Capture quiet;
        ASSERT_EQ(openBS(0), SUCCESS);
        Log_Capture capture;
        Stderr_Capture err;
        EXPECT_EQ(init(0, 1, 0), SUCCESS);
        EXPECT_TRUE(capture.contains("Using init config : " + std::to_string(c.config)));
        EXPECT_EQ(err.take().find("Exception catched at init config integer conversion\n") !=
                      std::string::npos,
                  c.conversion_message);
    }
}

TEST_F(ApiLifecycle, HeadstagePresenceFollowsPortStatusAndDesignPortCount) {
    use_box_model();
    box->set_signature(0x4E500020); // two ports
    box->set_port_pll_status(0xF);
    Stdout_Capture quiet;
    ASSERT_EQ(openBS(0), SUCCESS);
    bool detected = true;
    for (int port : {0, 3, 4, 5}) {
        detected = true;
        EXPECT_EQ(detectHeadStage(0, port, &detected), SUCCESS);
        EXPECT_FALSE(detected) << port;
    }
    EXPECT_EQ(detectHeadStage(0, 2, &detected), SUCCESS);
    EXPECT_TRUE(detected);
}

TEST_F(ApiLifecycle, PortBringUpAgainstTheBoxModel) {
    use_box_model();
    box->headstage(1).set_device_ids(9, 3);
    Stdout_Capture quiet;
    ASSERT_EQ(openBS(0), SUCCESS);
    EXPECT_EQ(openPort(0, 1), SUCCESS);
    EXPECT_EQ(openPort(0, 2), FAILED);
    EXPECT_EQ(openPort(0, 5), FAILED);
    EXPECT_EQ(openProbe(0, 1, 0), SUCCESS);
    EXPECT_EQ(init(0, 1, 0), SUCCESS);
    EXPECT_EQ(closeProbe(0, 1, 0), SUCCESS);
    Log_Capture capture;
    EXPECT_EQ(closePort(0, 1), SUCCESS);
    EXPECT_TRUE(capture.contains("SlotID : 0, portID : 1"));
}

TEST_F(ApiLifecycle, CallsThatNeedTheBoxFailCleanlyBeforeOpenBS) {
    Log_Capture capture;
    bool detected = true;
    EXPECT_EQ(openPort(0, 1), FAILED);
    EXPECT_EQ(init(0, 1, 0), FAILED);
    EXPECT_EQ(detectHeadStage(0, 1, &detected), FAILED);
    EXPECT_EQ(closeBS(0), FAILED);
    EXPECT_EQ(setGain(0, 1, 0, 0, 1, 1), FAILED);
    EXPECT_EQ(start_acquisition(0, 1), FAILED);
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR,
                                 "openPort : the basestation is not open (openBS has not succeeded)"));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR,
                                 "closeBS : the basestation is not open (openBS has not succeeded)"));
    // Calls that need no box still answer.
    EXPECT_EQ(openProbe(0, 1, 0), SUCCESS);
    EXPECT_EQ(closePort(0, 1), SUCCESS);
}

TEST_F(ApiLifecycle, CloseWithoutAcquisitionDoesNotBlockAndAllowsAnotherOpen) {
    use_box_model();
    Stdout_Capture quiet;
    ASSERT_EQ(openBS(0), SUCCESS);
    EXPECT_EQ(closeBS(0), SUCCESS);
    EXPECT_FALSE(box->is_open());
    EXPECT_EQ(bistBS(0), NOT_OPEN);
    ASSERT_EQ(openBS(0), SUCCESS);
    EXPECT_EQ(bistBS(0), SUCCESS);
}

TEST_F(ApiLifecycle, ExceptionsInsideACallBecomeAFailedResult) {
    use_box_model();
    Stdout_Capture quiet;
    ASSERT_EQ(openBS(0), SUCCESS);
    Log_Capture capture;
    // Port 7 reaches the library's per-port arrays, which refuse it with an exception.
    EXPECT_EQ(setGain(0, 7, 0, 0, 1, 1), FAILED);
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR,
                                 "setGain : exception caught : invalid array<T, N> subscript"));
}

} // namespace
} // namespace Selvan::MURA
