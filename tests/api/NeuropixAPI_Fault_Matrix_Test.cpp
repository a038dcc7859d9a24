// Faults of the box as a host meets them through the exported API, against the box model: a
// device on the I2C tunnel that does not acknowledge, a UART that no longer answers, a port PLL
// that never locks or loses lock, a headstage unplugged during a run, stream reads that fail,
// come short, come empty or stall, lost and duplicated rows, and files that are missing or
// cannot be read. Every call must return within its limit with an error code and an ERROR line,
// and what was delivered before the fault must be intact. (A configuration flash that never
// becomes ready is met by the flash programmer's own tests.)

#include "Api_Fixture.h"
#include "C_Stream_Synthesizer.h"
#include "M_I2C_Over_GSML.h"
#include "Packet_Expectations.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <thread>

namespace Selvan::MURA {
namespace {

using namespace Neuropixels;
using test_support::expect_same_packet;
using test_support::expected_packets;
using test_support::Log_Capture;
using test_support::Stdout_Capture;
using Packets = std::vector<std::unique_ptr<electrodePacket>>;

// No call may take longer than the longest wait the library documents (the pump stop limit).
constexpr auto CALL_LIMIT = std::chrono::seconds(30);

class ApiFaultMatrix : public test_support::Api_Fixture {
protected:
    ApiFaultMatrix() { settings.rhd_stream_count = 0; }

    // Hardware mode on the box model; its stream goes through `filter` (which may drop rows)
    // when one is given.
    void open_box(std::function<bool(const uint8_t* row)> keep_row = {}) {
        auto source = box_model::Card_To_Host_Stream_Model::synthesizer(settings);
        if (keep_row)
            source = filtered(std::move(source), std::move(keep_row));
        box->stream().set_source(std::move(source));
        use_box_model();
        Stdout_Capture quiet;
        ASSERT_EQ(openBS(0), SUCCESS);
    }

    // Runs the call on its own thread and fails the test if it does not return in time. The
    // thread is joined, not detached: the Windows build's thread library recycles a detached
    // thread's record while the thread still runs its exit path, and a caller thread made right
    // after could spin for good on the lock of that record (seen under wine). A call that fails
    // leaves its ERROR text for getLastErrorMessage on the calling thread.
    NP_ErrorCode within_limit(std::function<NP_ErrorCode()> call) {
        Log_Capture errors(logging::Verbosity_ERROR);
        auto done = std::make_shared<std::promise<NP_ErrorCode>>();
        std::future<NP_ErrorCode> result = done->get_future();
        std::string last_error;
        std::thread caller([call = std::move(call), done, &last_error] {
            const NP_ErrorCode code = call();
            if (code != SUCCESS) {
                char text[512] = {};
                np_getLastErrorMessage(text, sizeof text);
                last_error = text;
            }
            done->set_value(code);
        });
        if (result.wait_for(CALL_LIMIT) != std::future_status::ready) {
            ADD_FAILURE() << "the call did not return within its limit";
            std::abort(); // the hung call cannot be taken back; this test process ends here
        }
        caller.join();
        const NP_ErrorCode code = result.get();
        if (code != SUCCESS) {
            EXPECT_FALSE(last_error.empty()) << "getLastErrorMessage after a failure";
            EXPECT_TRUE(errors.contains(logging::Verbosity_ERROR, last_error))
                << "getLastErrorMessage gave '" << last_error << "', no ERROR line of the call";
        }
        return code;
    }

    // Reads as hosts do (reads return at once), until `count` packets of the port came, a read
    // fails, or none came for `patience`.
    Packets read_packets(int port, size_t count,
                         std::chrono::milliseconds patience = std::chrono::seconds(2)) {
        Packets packets;
        electrodePacket buffer[16];
        auto last_progress = std::chrono::steady_clock::now();
        while (packets.size() < count && std::chrono::steady_clock::now() - last_progress < patience) {
            int actual = 0;
            const int wanted = static_cast<int>(std::min<size_t>(16, count - packets.size()));
            last_read_result = readElectrodeData(0, port, 0, buffer, &actual, wanted);
            if (last_read_result != SUCCESS)
                break;
            if (actual == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            last_progress = std::chrono::steady_clock::now();
            for (int i = 0; i < actual; ++i)
                packets.push_back(std::make_unique<electrodePacket>(buffer[i]));
        }
        return packets;
    }

    // The packets must be the first ones the port's probe sent, sample for sample.
    void expect_intact_from_start(const Packets& packets, int port) {
        const synth::C_Synth_Content content(settings.content);
        const auto expected =
            expected_packets(content, static_cast<uint32_t>(port - 1), 0, 12 * packets.size() + 12);
        for (size_t n = 0; n < packets.size(); ++n)
            expect_same_packet(*packets[n], *expected[n], static_cast<uint32_t>(port - 1), n);
    }

    static bool has_error_line(const Log_Capture& capture) {
        for (const auto& line : capture.lines()) {
            if (line.verbosity == logging::Verbosity_ERROR)
                return true;
        }
        return false;
    }

    static box_model::Card_To_Host_Stream_Model::Source
    filtered(box_model::Card_To_Host_Stream_Model::Source source,
             std::function<bool(const uint8_t*)> keep_row) {
        return
            [source = std::move(source), keep_row = std::move(keep_row)](uint8_t* buffer, size_t capacity) {
                const size_t filled = source(buffer, capacity);
                size_t kept = 0;
                for (size_t at = 0; at + 16 <= filled; at += 16) {
                    if (keep_row(buffer + at)) {
                        std::memmove(buffer + kept, buffer + at, 16);
                        kept += 16;
                    }
                }
                return kept;
            };
    }

    synth::Synth_Settings settings;
    std::atomic<NP_ErrorCode> last_read_result{SUCCESS};
};

TEST_F(ApiFaultMatrix, EachI2CDeviceThatDoesNotAcknowledgeFailsTheCallsThatNeedIt) {
    open_box();
    struct Case {
        uint8_t device;
        const char* call_name;
        std::function<NP_ErrorCode()> call;
    };
    char text[64];
    HardwareID id{};
    const std::vector<Case> cases = {
        {i2c_device::SERIALIZER, "openPort", [] { return openPort(0, 3); }},
        {i2c_device::DESERIALIZER, "openPort", [] { return openPort(0, 3); }},
        {i2c_device::HEADSTAGE_EEPROM, "getHeadstageHardwareID",
         [&] { return getHeadstageHardwareID(0, 3, &id); }},
        {i2c_device::PROBE_EEPROM, "readProbePN", [&] { return readProbePN(0, 3, 1, text, sizeof text); }},
        {i2c_device::PROBE, "init", [] { return init(0, 3, 1); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call_name);
        box->headstage(2).nack_devices = {c.device};
        Log_Capture capture;
        Stdout_Capture quiet;
        EXPECT_NE(within_limit(c.call), SUCCESS);
        EXPECT_TRUE(has_error_line(capture));
    }
    // Acknowledged again, the same port works: no state was left behind.
    box->headstage(2).nack_devices.clear();
    Stdout_Capture quiet;
    EXPECT_EQ(within_limit([] { return openPort(0, 3); }), SUCCESS);
    EXPECT_EQ(within_limit([&] { return readProbePN(0, 3, 1, text, sizeof text); }), SUCCESS);
    EXPECT_STREQ(text, "PRB_1_4_0480_1");
}

TEST_F(ApiFaultMatrix, DuringARunTunnelFaultsFailTheirCallsAndTheDataFlowsOnIntact) {
    open_box();
    Stdout_Capture quiet;
    ASSERT_EQ(start_acquisition(0, 1), SUCCESS);
    Packets before = read_packets(2, 20);
    char text[64];
    {
        box->headstage(1).nack_devices = {i2c_device::PROBE_EEPROM};
        Log_Capture capture;
        EXPECT_NE(within_limit([&] { return readProbePN(0, 2, 1, text, sizeof text); }), SUCCESS);
        EXPECT_TRUE(has_error_line(capture));
    }
    {
        // The UART of port 3 no longer answers at all.
        box->headstage(2).present = false;
        Log_Capture capture;
        EXPECT_NE(within_limit([&] { return readHSPN(0, 3, text, sizeof text); }), SUCCESS);
        EXPECT_TRUE(has_error_line(capture));
    }
    const Packets after = read_packets(2, 40);
    for (auto& packet : after)
        before.push_back(std::make_unique<electrodePacket>(*packet));
    ASSERT_EQ(before.size(), 60u);
    expect_intact_from_start(before, 2);
}

TEST_F(ApiFaultMatrix, APortPllThatNeverLocksOrLosesLockFailsItsChecks) {
    box->set_port_pll_status(0b1011); // port 3 never locks
    open_box();
    Stdout_Capture quiet;
    {
        Log_Capture capture;
        EXPECT_NE(within_limit([] { return bistHB(0, 3, 0); }), SUCCESS);
        EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "bist_HB : the PLL of port 2 is not locked"));
    }
    EXPECT_EQ(within_limit([] { return bistHB(0, 1, 0); }), SUCCESS);
    ASSERT_EQ(start_acquisition(0, 1), SUCCESS);
    const Packets first = read_packets(1, 10);
    box->set_port_pll_status(0b1010); // port 1 loses lock during the run
    {
        Log_Capture capture;
        EXPECT_NE(within_limit([] { return bistHB(0, 1, 0); }), SUCCESS);
        EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "bist_HB : the PLL of port 0 is not locked"));
    }
    ASSERT_EQ(first.size(), 10u);
    expect_intact_from_start(first, 1);
    EXPECT_EQ(read_packets(4, 10).size(), 10u);
}

TEST_F(ApiFaultMatrix, AHeadstageUnpluggedMidRunKeepsItsDataAndTheOtherPortsRunOn) {
    // Once unplugged, port 2 (stream id 1) sends no more rows.
    auto unplugged = std::make_shared<std::atomic<bool>>(false);
    open_box([unplugged](const uint8_t* row) { return !(*unplugged && (row[0] & 0xF) == 1); });
    Stdout_Capture quiet;
    ASSERT_EQ(start_acquisition(0, 1), SUCCESS);
    const Packets before = read_packets(2, 10);
    *unplugged = true;
    box->headstage(1).present = false;
    // The unplugged port's reader drains what came; its reads then return at once with nothing
    // and hold up no other port's.
    const size_t drained = read_packets(2, 100000, std::chrono::milliseconds(200)).size();
    electrodePacket packet;
    int actual = -1;
    EXPECT_EQ(readElectrodeData(0, 2, 0, &packet, &actual, 1), SUCCESS);
    EXPECT_EQ(actual, 0);
    EXPECT_EQ(read_packets(1, 200).size(), 200u);
    {
        Log_Capture capture;
        char text[64];
        EXPECT_NE(within_limit([&] { return readProbePN(0, 2, 1, text, sizeof text); }), SUCCESS);
        EXPECT_TRUE(has_error_line(capture));
    }
    EXPECT_EQ(within_limit([] { return stop_acquisition(0, 1); }), SUCCESS);
    EXPECT_LT(drained, 100000u);
    ASSERT_EQ(before.size(), 10u);
    expect_intact_from_start(before, 2);
}

TEST_F(ApiFaultMatrix, AFailingStreamEndsTheRunWithIoErrorAfterWhatCameAndANewRunStarts) {
    open_box();
    Stdout_Capture quiet;
    ASSERT_EQ(start_acquisition(0, 1), SUCCESS);
    const Packets before = read_packets(1, 10);
    Log_Capture capture;
    box->stream().set_read_fails(true);
    ASSERT_TRUE(capture.wait_for("The device stream failed"));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR,
                                 "The device stream failed; acquisition delivers no more "
                                 "data (stop or arm, then start again)"));
    // Readers get what was queued, then IO_ERROR instead of blocking.
    const Packets rest = read_packets(1, 100000);
    EXPECT_EQ(last_read_result, IO_ERROR);
    EXPECT_STREQ(getErrorMessage(IO_ERROR), "IO_ERROR");
    Packets all;
    for (const Packets* part : {&before, &rest})
        for (const auto& packet : *part)
            all.push_back(std::make_unique<electrodePacket>(*packet));
    expect_intact_from_start(all, 1);
    // The ADC reader likewise, once the queued RHD packets are read.
    PacketInfo info[64];
    int16_t samples[12 * 64];
    int count = -1;
    NP_ErrorCode adc_result = SUCCESS;
    while (count != 0)
        adc_result = ADC_readPackets(0, info, samples, 12, 64, &count);
    EXPECT_EQ(adc_result, IO_ERROR);
    // The host stops and starts again: the stream works again.
    box->stream().set_read_fails(false);
    EXPECT_EQ(within_limit([] { return arm(0); }), SUCCESS);
    EXPECT_EQ(within_limit([] { return setSWTrigger(0); }), SUCCESS);
    EXPECT_EQ(read_packets(1, 5).size(), 5u);
    EXPECT_EQ(last_read_result, SUCCESS);
}

TEST_F(ApiFaultMatrix, ShortEmptyAndStalledReadsLoseNothingAndAStallDoesNotHoldTheStop) {
    open_box();
    box->stream().set_read_sizes({65536 + 5, 0, 4096 * 3 + 9, 0, 0, 262144 + 7});
    Stdout_Capture quiet;
    ASSERT_EQ(start_acquisition(0, 1), SUCCESS);
    for (int port = 1; port <= 4; ++port) {
        const Packets packets = read_packets(port, 100);
        ASSERT_EQ(packets.size(), 100u);
        expect_intact_from_start(packets, port);
    }
    // The driver stalls: every device read returns nothing. The host's reads return at once, and
    // the stop does not wait for the stalled pump's read.
    box->stream().set_read_sizes({0});
    read_packets(3, 100000, std::chrono::milliseconds(100));
    EXPECT_EQ(within_limit([] { return stop_acquisition(0, 1); }), SUCCESS);
}

TEST_F(ApiFaultMatrix, ALostOrDuplicatedRowCostsOnlyTheSuperFrameItTouched) {
    using synth::Fault_Kind;
    // Port 2 loses its row 8,000; port 3 gets row 9,000 twice (a super frame has 65 rows).
    settings.faults = {{Fault_Kind::lost_row, 1, 8000, 0}, {Fault_Kind::duplicated_row, 2, 9000, 0}};
    open_box();
    Stdout_Capture quiet;
    ASSERT_EQ(start_acquisition(0, 1), SUCCESS);
    const size_t intact = 8000 / 65 / 12 - 1;
    for (int port : {2, 3}) {
        Packets packets = read_packets(port, 100);
        EXPECT_GE(packets.size(), 50u) << "port " << port << " delivers after the fault";
        packets.resize(std::min(packets.size(), intact));
        expect_intact_from_start(packets, port);
    }
    for (int port : {1, 4}) {
        const Packets packets = read_packets(port, 100);
        ASSERT_EQ(packets.size(), 100u);
        expect_intact_from_start(packets, port);
    }
    // Each fault costs its port only the super frame it touched.
    Log_Capture capture;
    ASSERT_EQ(stop_acquisition(0, 1), SUCCESS);
    for (int port = 1; port <= 4; ++port) {
        const char* expected = port == 2 || port == 3 ? ", 1 super frames dropped by the demultiplexer"
                                                      : ", 0 super frames dropped by the demultiplexer";
        EXPECT_EQ(capture.count_containing("Data lost on port " + std::to_string(port) + " :"), 1u);
        bool found = false;
        for (const auto& text : capture.texts())
            found |= text.rfind("Data lost on port " + std::to_string(port) + " :", 0) == 0 &&
                     text.find(expected) != std::string::npos;
        EXPECT_TRUE(found) << "port " << port;
    }
}

TEST_F(ApiFaultMatrix, MissingAndUnreadableFilesAreRefusedWithTheirNames) {
    open_box();
    std::filesystem::create_directory("a_folder.csv");
    for (const char* file : {"missing.csv", "a_folder.csv"}) {
        Log_Capture capture;
        Stdout_Capture quiet;
        EXPECT_EQ(setGainCalibration(0, 1, 1, file), FAILED);
        EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, std::string("setGainCalibration : the gain "
                                                                           "calibration file ") +
                                                                   file + " could not be loaded"));
        EXPECT_EQ(setADCCalibration(0, 1, file), FAILED);
        EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, std::string("setADCCalibration : the ADC "
                                                                           "calibration file ") +
                                                                   file + " could not be loaded"));
    }
    // Simulation whose recording is missing: openBS says which step failed.
    {
        Stdout_Capture quiet;
        closeBS(0);
    }
    box_override.reset();
    write_marker("MURA_NPAPI_ADAPTER_SIM", "no_such_recording.bin");
    Log_Capture capture;
    Stdout_Capture quiet;
    EXPECT_EQ(openBS(0), VERSION_MISMATCH);
    EXPECT_TRUE(
        capture.contains(logging::Verbosity_ERROR, "openBS : the simulation recording could not be opened"));
}

} // namespace
} // namespace Selvan::MURA
