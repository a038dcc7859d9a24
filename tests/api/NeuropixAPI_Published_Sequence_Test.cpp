// What a host written for the published API relies on, against the box model: arm and the
// software trigger start and stop acquisition, readers are released when nothing flows, the
// HardwareID records identify every part, calls that need a port's link bring it up, the
// adapter settings file, and the library's lifetime under a stuck pump or a racing close.

#include "Api_Fixture.h"
#include "C_Stream_Synthesizer.h"
#include "Synth_Packet_Checker.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

// Test seam np3_bridge exports: how long stopping waits for the pump thread.
namespace Selvan::MURA::api {
void set_pump_stop_timeout(std::chrono::milliseconds timeout);
}

namespace Selvan::MURA {
namespace {

using namespace Neuropixels;
using test_support::Log_Capture;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;
using Clock = std::chrono::steady_clock;

class ApiPublishedSequence : public test_support::Api_Fixture {
protected:
    void open_box(bool streaming = false) {
        if (streaming) {
            synth::Synth_Settings settings;
            settings.rhd_stream_count = 0;
            box->stream().set_source(box_model::Card_To_Host_Stream_Model::synthesizer(settings));
        }
        use_box_model();
        Stdout_Capture quiet;
        ASSERT_EQ(openBS(0), SUCCESS);
    }
};

TEST_F(ApiPublishedSequence, ArmStopsTheTriggerStartsOnlyAnArmedSlot) {
    open_box();
    Log_Capture capture(1);
    // Before any start, reads return at once with nothing.
    electrodePacket packet;
    int actual = -1;
    EXPECT_EQ(readElectrodeData(0, 1, 0, &packet, &actual, 4), SUCCESS);
    EXPECT_EQ(actual, 0);
    // A trigger on a slot that is not armed starts nothing.
    EXPECT_EQ(setSWTrigger(0), SUCCESS);
    EXPECT_TRUE(capture.contains("setSWTrigger : slot 0 is not armed, nothing is started"));
    EXPECT_EQ(box->control_word() & 0xF, 0u);
    ASSERT_EQ(arm(0), SUCCESS);
    ASSERT_EQ(setSWTriggerEx(0, swtriggerflags_t{}), SUCCESS);
    EXPECT_EQ(box->control_word() & 0xF, 0xFu);
    EXPECT_TRUE(capture.wait_for(": Main pump thread started"));
    Stdout_Capture quiet;
    ASSERT_EQ(arm(0), SUCCESS);
    EXPECT_EQ(box->control_word() & 0xF, 0u);
    EXPECT_TRUE(capture.contains(logging::Verbosity_INFO, "Stopping main stream. (0)"));
    // Armed again: the next trigger starts the next run.
    EXPECT_EQ(setSWTrigger(0), SUCCESS);
    EXPECT_EQ(box->control_word() & 0xF, 0xFu);
}

// What the stopped run delivered stays readable after arm, up to the trigger; the trigger starts
// a fresh run whose first packet is its own (TRIGGER), nothing of the stopped one.
TEST_F(ApiPublishedSequence, ArmKeepsTheStoppedRunReadableUntilTheTriggerStartsAFreshOne) {
    open_box(true);
    ASSERT_EQ(arm(0), SUCCESS);
    ASSERT_EQ(setSWTrigger(0), SUCCESS);
    int available = 0, headroom = 0;
    for (int i = 0; i < 500 && available < 10; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        getElectrodeDataFifoState(0, 3, 0, &available, &headroom);
    }
    ASSERT_GE(available, 10);
    {
        Stdout_Capture quiet;
        ASSERT_EQ(arm(0), SUCCESS);
    }
    EXPECT_EQ(getElectrodeDataFifoState(0, 3, 0, &available, &headroom), SUCCESS);
    EXPECT_GE(available, 10);
    std::vector<electrodePacket> packets(3);
    int actual = 0;
    EXPECT_EQ(readElectrodeData(0, 3, 0, packets.data(), &actual, 1), SUCCESS);
    EXPECT_EQ(actual, 1);
    EXPECT_EQ(packets[0].Status[0], 1);
    ASSERT_EQ(setSWTrigger(0), SUCCESS);
    Stdout_Capture quiet;
    EXPECT_EQ(test_support::poll_electrode_packets(3, packets.data(), 3), 3);
    EXPECT_EQ(packets[0].Status[0], 1);
    EXPECT_EQ(packets[1].Status[0], 0);
    EXPECT_EQ(stop_acquisition(0, 1), SUCCESS);
}

// A stop delivers every whole super frame the box sent before it: the box sends 672 super frames
// of four probes and their RHD frames (20 words each, 7 to a row: 672 frames end on a whole row)
// and then nothing; after the stop every port has its 56 packets, sample for sample, and the ADC
// queue every frame.
TEST_F(ApiPublishedSequence, AStopDeliversEverySuperFrameTheBoxSent) {
    constexpr uint32_t SUPER_FRAMES = 672;
    synth::Synth_Settings settings;
    settings.rhd_stream_count = 0;
    settings.content.np_content = synth::Np_Content::counter;
    auto bytes = std::make_shared<std::vector<uint8_t>>(
        synth::C_Stream_Synthesizer(settings).next_ticks(SUPER_FRAMES));
    box->stream().set_source(box_model::Card_To_Host_Stream_Model::recording(bytes, false));
    open_box();
    ASSERT_EQ(arm(0), SUCCESS);
    ASSERT_EQ(setSWTrigger(0), SUCCESS);
    for (int i = 0; i < 1000 && box->stream().bytes_delivered() < bytes->size(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(box->stream().bytes_delivered(), bytes->size());
    {
        Stdout_Capture quiet;
        ASSERT_EQ(stop_acquisition(0, 1), SUCCESS);
    }
    std::vector<electrodePacket> packets(SUPER_FRAMES / 12 + 1);
    for (int port = 1; port <= 4; ++port) {
        int actual = 0;
        EXPECT_EQ(readElectrodeData(0, port, 0, packets.data(), &actual, static_cast<int>(packets.size())),
                  SUCCESS);
        ASSERT_EQ(actual, static_cast<int>(SUPER_FRAMES / 12)) << "port " << port;
        synth::Synth_Packet_Checker<electrodePacket> checker(static_cast<uint32_t>(port - 1));
        for (int n = 0; n < actual; ++n)
            ASSERT_TRUE(checker.check(packets[static_cast<size_t>(n)]))
                << "port " << port << ": " << checker.failure();
        EXPECT_EQ(checker.first_super_frame(), 0u);
    }
    std::vector<PacketInfo> info(SUPER_FRAMES + 1);
    std::vector<int16_t> data(12 * info.size());
    int count = 0;
    EXPECT_EQ(ADC_readPackets(0, info.data(), data.data(), 12, static_cast<int>(info.size()), &count),
              SUCCESS);
    ASSERT_EQ(count, static_cast<int>(SUPER_FRAMES));
    for (uint32_t n = 0; n < SUPER_FRAMES; ++n)
        ASSERT_EQ(info[n].Timestamp, 10 * n / 3) << n;
}

// Hosts route a software trigger to the acquisition trigger and set its edge before they arm;
// what they set is reported back. The box's TTL input cannot start acquisition: refused.
TEST_F(ApiPublishedSequence, SoftwareTriggerRoutingAndEdgeAreRememberedTheTtlInputIsRefused) {
    const auto connected = [](switchmatrixinput_t input) {
        bool is = false;
        EXPECT_EQ(switchmatrix_get(0, SM_Output_AcquisitionTrigger, input, &is), SUCCESS);
        return is;
    };
    EXPECT_EQ(switchmatrix_set(0, SM_Output_AcquisitionTrigger, SM_Input_SWTrigger1, true), SUCCESS);
    EXPECT_TRUE(connected(SM_Input_SWTrigger1));
    EXPECT_EQ(switchmatrix_set(0, SM_Output_AcquisitionTrigger, SM_Input_SWTrigger2, true), SUCCESS);
    EXPECT_EQ(std::pair(connected(SM_Input_SWTrigger1), connected(SM_Input_SWTrigger2)),
              std::pair(false, true));
    EXPECT_EQ(switchmatrix_clear(0, SM_Output_AcquisitionTrigger), SUCCESS);
    EXPECT_FALSE(connected(SM_Input_SWTrigger2));

    triggeredge_t edge = triggeredge_rising;
    EXPECT_EQ(setTriggerEdge(0, false), SUCCESS);
    EXPECT_EQ(switchmatrix_getOutputTriggerEdge(0, SM_Output_AcquisitionTrigger, &edge), SUCCESS);
    EXPECT_EQ(edge, triggeredge_falling);
    EXPECT_EQ(switchmatrix_setOutputTriggerEdge(0, SM_Output_AcquisitionTrigger, triggeredge_rising),
              SUCCESS);
    EXPECT_EQ(switchmatrix_getOutputTriggerEdge(0, SM_Output_AcquisitionTrigger, &edge), SUCCESS);
    EXPECT_EQ(edge, triggeredge_rising);

    Log_Capture capture;
    EXPECT_EQ(switchmatrix_set(0, SM_Output_AcquisitionTrigger, SM_Input_SMA, true), NOTSUPPORTED);
    EXPECT_FALSE(connected(SM_Input_SMA));
    EXPECT_TRUE(capture.contains(logging::Verbosity_WARNING,
                                 "switchmatrix_set : the box cannot route its TTL input (SMA) to the "
                                 "acquisition trigger; acquisition starts on a software trigger "
                                 "(setSWTrigger)"));
}

// A host closes once per probe and once more: the later closes do nothing.
TEST_F(ApiPublishedSequence, CloseStopsARunAndLaterClosesDoNothing) {
    open_box();
    ASSERT_EQ(start_acquisition(0, 1), SUCCESS);
    Stdout_Capture quiet;
    Log_Capture capture(1);
    ASSERT_EQ(closeBS(0), SUCCESS);
    EXPECT_TRUE(capture.contains(logging::Verbosity_INFO, "Stopping main stream. (0)"));
    EXPECT_EQ(closeBS(0), SUCCESS);
    EXPECT_TRUE(capture.contains("closeBS : the basestation is closed already"));
}

TEST_F(ApiPublishedSequence, HardwareIdsDescribeEveryPartAndTheLinkComesUpOnDemand) {
    box->headstage(1).set_probe_eeprom(18194210592, "PRB_1_4_0480_1");
    box->headstage(1).set_headstage_eeprom(0x0205, "NP2_HS_30");
    open_box();
    HardwareID id{};
    Log_Capture capture;
    // No openPort came first: the getter brings port 2 up itself.
    ASSERT_EQ(getProbeHardwareID(0, 2, 1, &id), SUCCESS);
    EXPECT_EQ(box->headstage(1).serializer[0x04], 0x83);
    uint64_t serial = id.SerialNumber; // a packed field: copied before it is compared
    EXPECT_EQ(serial, 18194210592u);
    EXPECT_STREQ(id.ProductNumber, "PRB_1_4_0480_1");
    ASSERT_EQ(getHeadstageHardwareID(0, 2, &id), SUCCESS);
    EXPECT_STREQ(id.ProductNumber, "NP2_HS_30");
    EXPECT_EQ(id.version_Major, 5);
    EXPECT_EQ(id.version_Minor, 2);
    ASSERT_EQ(getFlexHardwareID(0, 2, 0, &id), SUCCESS);
    EXPECT_STREQ(id.ProductNumber, "Selvan MURA Flex");
    ASSERT_EQ(getBSCHardwareID(0, &id), SUCCESS);
    serial = id.SerialNumber;
    EXPECT_EQ(serial, 12345u);
    EXPECT_STREQ(id.ProductNumber, "MURA NA");
    EXPECT_EQ(id.version_Major, 1);
    // The older text calls and detection bring ports up as well, without waiting.
    char text[32];
    EXPECT_EQ(readHSPN(0, 3, text, sizeof text), SUCCESS);
    EXPECT_STREQ(text, "NP2_HS_30");
    EXPECT_EQ(pauses.count(std::chrono::milliseconds(1000)), 0u);
    bool detected = false;
    EXPECT_EQ(detectHeadStage(0, 4, &detected), SUCCESS);
    EXPECT_TRUE(detected);
    EXPECT_EQ(box->headstage(3).serializer[0x04], 0x83);
}

TEST_F(ApiPublishedSequence, HardwareIdRefusalsCarryARealCodeAndAnErrorLine) {
    box->headstage(2).present = false;
    box->headstage(3).nack_devices = {0xA0};
    HardwareID id{};
    id.SerialNumber = 77;
    Log_Capture capture;
    EXPECT_EQ(getProbeHardwareID(0, 1, 1, &id), NOT_OPEN);
    open_box();
    Stderr_Capture quiet;
    EXPECT_EQ(getProbeHardwareID(0, 1, 2, &id), WRONG_DOCK_ID);
    EXPECT_EQ(getHeadstageHardwareID(0, 5, &id), WRONG_PORT);
    EXPECT_EQ(getProbeHardwareID(0, 1, 0, nullptr), PARAMETER_INVALID);
    EXPECT_EQ(getHeadstageHardwareID(0, 3, &id), NO_LINK);
    EXPECT_EQ(getProbeHardwareID(0, 4, 1, &id), IIC_ERROR);
    const uint64_t untouched = id.SerialNumber; // a packed field: copied before it is compared
    EXPECT_EQ(untouched, 77u);
    EXPECT_TRUE(
        capture.contains(logging::Verbosity_ERROR, "getProbeHardwareID : invalid dockID 2 (docks 0 and 1)"));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR,
                                 "getHeadstageHardwareID : no headstage answers on port 3"));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR,
                                 "getProbeHardwareID : the EEPROMs of port 4 cannot be read"));
    bool detected = true;
    EXPECT_EQ(detectHeadStage(0, 3, &detected), SUCCESS);
    EXPECT_FALSE(detected);
    // Text reads refuse what they cannot fill, and leave what they fill terminated.
    char text[8] = "stale";
    EXPECT_EQ(readProbePN(0, 1, 0, text, 0), FAILED);
    EXPECT_TRUE(
        capture.contains(logging::Verbosity_ERROR, "readProbePN : no buffer for the text (length 0)"));
    EXPECT_EQ(readProbePN(0, 4, 0, text, sizeof text), FAILED);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(readProbeSN(0, 1, 0, nullptr), FAILED);
    EXPECT_TRUE(
        capture.contains(logging::Verbosity_ERROR, "readProbeSN : null serial number, nothing written"));
}

TEST_F(ApiPublishedSequence, TheSettingsFileChoosesPlatformVersionsAndDevice) {
    write_marker("MURA_NPAPI_ADAPTER_SETTINGS",
                 "# for a host that keeps PXI base stations\nplatform = PXI  # trailing comment\n"
                 "bs_firmware = 3.4.5\ncolour = blue\nvirtual_speed = fast\ndevice = virtual");
    basestationID device{};
    EXPECT_EQ(getDeviceList(&device, 1), 1);
    EXPECT_EQ(device.platformid, NPPlatform_PXI);
    firmware_Info firmware{};
    EXPECT_EQ(bs_getFirmwareInfo(0, &firmware), SUCCESS);
    EXPECT_EQ(firmware.major * 100 + firmware.minor * 10 + firmware.build, 345);
    EXPECT_EQ(bsc_getFirmwareInfo(0, &firmware), SUCCESS);
    EXPECT_EQ(firmware.major * 100 + firmware.minor * 10 + firmware.build, 201);
    Log_Capture capture;
    {
        Stdout_Capture quiet;
        ASSERT_EQ(openBS(0), SUCCESS);
    }
    EXPECT_TRUE(capture.contains(logging::Verbosity_WARNING,
                                 "MURA_NPAPI_ADAPTER_SETTINGS line 4: unknown key 'colour' is ignored"));
    EXPECT_TRUE(
        capture.contains(logging::Verbosity_ERROR,
                         "MURA_NPAPI_ADAPTER_SETTINGS line 5: bad value 'fast' for virtual_speed (expected "
                         "a number above 0 and at most 1000); the default is kept"));
    EXPECT_TRUE(capture.contains("  device = virtual"));
    EXPECT_TRUE(capture.contains("  virtual_speed = 1"));
    // The virtual box: four ports with a headstage each.
    for (int port = 1; port <= 4; ++port) {
        bool detected = false;
        EXPECT_EQ(detectHeadStage(0, port, &detected), SUCCESS);
        EXPECT_TRUE(detected) << port;
    }
}

TEST_F(ApiPublishedSequence, TheSimulationMarkerWinsOverTheVirtualBox) {
    std::ofstream("rec.bin", std::ios::binary) << std::string(16, '\0');
    write_marker("MURA_NPAPI_ADAPTER_SIM", "rec.bin");
    write_marker("MURA_NPAPI_ADAPTER_SETTINGS", "device = virtual");
    Log_Capture capture;
    Stdout_Capture quiet;
    ASSERT_EQ(openBS(0), SUCCESS);
    EXPECT_TRUE(capture.contains(logging::Verbosity_WARNING,
                                 "MURA_NPAPI_ADAPTER_SIM is present: simulation mode "
                                 "is used, not the virtual box of "
                                 "MURA_NPAPI_ADAPTER_SETTINGS"));
    EXPECT_TRUE(capture.contains("MURA_Controller_Library ctor. (Simulation mode)"));
}

// A device read that never returns keeps the pump; closing lets it go with its library, and
// the library is released once the read returns.
TEST_F(ApiPublishedSequence, AStuckPumpIsLetGoWithItsLibrary) {
    struct Stall {
        std::mutex mutex;
        std::condition_variable released;
        bool release = false;
        std::atomic<bool> entered{false};
    };
    auto stall = std::make_shared<Stall>();
    box->stream().set_source([stall](uint8_t*, size_t) -> size_t {
        stall->entered = true;
        std::unique_lock lock(stall->mutex);
        stall->released.wait(lock, [&] { return stall->release; });
        return 0;
    });
    open_box();
    api::set_pump_stop_timeout(std::chrono::milliseconds(200));
    ASSERT_EQ(start_acquisition(0, 1), SUCCESS);
    while (!stall->entered)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Log_Capture capture;
    {
        Stdout_Capture quiet;
        EXPECT_EQ(closeBS(0), SUCCESS);
    }
    EXPECT_TRUE(
        capture.contains(logging::Verbosity_ERROR, "The main pump thread did not stop within 200 ms"));
    EXPECT_TRUE(box->is_open()) << "the stuck pump's library is not destroyed under it";
    {
        std::lock_guard lock(stall->mutex);
        stall->release = true;
    }
    stall->released.notify_all();
    for (int i = 0; i < 500 && box->is_open(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(box->is_open()) << "the library closes its device once the pump has ended";
    Stdout_Capture quiet;
    ASSERT_EQ(openBS(0), SUCCESS);
    EXPECT_EQ(start_acquisition(0, 1), SUCCESS);
}

// Configuration calls racing openBS and closeBS on other threads work on a library that stays
// alive for the whole call (the ThreadSanitizer build runs this too).
TEST_F(ApiPublishedSequence, CallsRacingOpenAndCloseNeverUseAFreedLibrary) {
    open_box();
    std::atomic<bool> done{false};
    Stdout_Capture quiet;
    Stderr_Capture quiet_errors;
    std::thread configurer([&] {
        while (!done) {
            int ap = 0, lfp = 0;
            getGain(0, 1, 0, 5, &ap, &lfp);
            setGain(0, 2, 0, 7, 3, 2);
            uint64_t serial = 0;
            readProbeSN(0, 1, 0, &serial);
            bs_get_fpga_temperature_celcius();
        }
    });
    for (int cycle = 0; cycle < 5; ++cycle) {
        EXPECT_EQ(closeBS(0), SUCCESS);
        EXPECT_EQ(openBS(0), SUCCESS);
    }
    done = true;
    configurer.join();
}

} // namespace
} // namespace Selvan::MURA

namespace Selvan::MURA {
namespace {

// The host's working directory gets no file of the library's unless the settings ask for a raw
// capture, which then holds the box's stream as it was read: whole rows, every stream's own.
TEST_F(ApiPublishedSequence, OnlyARawCaptureTheSettingsAskForLandsInTheWorkingDirectory) {
    write_marker("MURA_NPAPI_ADAPTER_SETTINGS", "raw_capture = capture.bin");
    open_box(true);
    ASSERT_EQ(arm(0), SUCCESS);
    ASSERT_EQ(setSWTrigger(0), SUCCESS);
    std::vector<electrodePacket> packets(4);
    ASSERT_EQ(test_support::poll_electrode_packets(1, packets.data(), 4), 4);
    Stdout_Capture quiet;
    ASSERT_EQ(arm(0), SUCCESS);
    ASSERT_EQ(closeBS(0), SUCCESS);
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"MURA_NPAPI_ADAPTER_SETTINGS", "capture.bin"}));
    std::ifstream capture("capture.bin", std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(capture)),
                                     std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 4u * 12 * 65 * 16);
    ASSERT_EQ(bytes.size() % 16, 0u);
    std::array<uint8_t, 5> next_counter{};
    for (size_t row = 0; row < bytes.size(); row += 16) {
        const uint8_t id = bytes[row] & 0x0F;
        ASSERT_EQ(bytes[row] >> 4, 0xD) << "row " << row / 16;
        ASSERT_LT(id, 5);
        ASSERT_EQ(bytes[row + 1], next_counter[id]++) << "row " << row / 16;
    }
}

} // namespace
} // namespace Selvan::MURA
