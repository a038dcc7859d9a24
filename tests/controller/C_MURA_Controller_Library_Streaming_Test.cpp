#include "Box_Fixture.h"
#include "CP_L2_CH_Results_Null_Writer.h"
#include "C_Async_PSB_And_RHD_Demux.h"
#include "C_L2_CH_Gain_Fix_Filter.h"
#include "C_Stream_Synthesizer.h"
#include "Log_Capture.h"
#include "RHD_Frame_Null_listener.h"
#include "Scratch_Directory.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <thread>

namespace Selvan::MURA {
namespace {

using box_model::Register_Access;
using test_support::Log_Capture;
using test_support::Scratch_Directory;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;
using ::testing::ElementsAre;
using namespace std::chrono_literals;

class Streaming : public test_support::Box_Fixture {
protected:
    void SetUp() override { opened_library(); }
    void TearDown() override {
        {
            Stdout_Capture quiet;
            library.reset();
        }
        Box_Fixture::TearDown();
    }
    std::vector<Register_Access> control_word_writes() const { return box->register_writes_from(0, 0); }
};

TEST_F(Streaming, PreparationHappensOnceAndSetsTheTlastModeOffThenOn) {
    box->clear_access_logs();
    Log_Capture capture(logging::Verbosity_INFO);
    Stdout_Capture out;
    library->prepare_for_streaming();
    EXPECT_TRUE(library->is_prepared_for_streaming());
    EXPECT_THAT(control_word_writes(), ElementsAre(Register_Access{0, 0x540}, Register_Access{0, 0x5C0}));
    EXPECT_TRUE(capture.contains("m_page_aligned_recv_buffer_size = 1048576"));
    EXPECT_TRUE(capture.contains("Worker thread started"));
    library->prepare_for_streaming();
    EXPECT_TRUE(capture.contains("Already prepard for streaming"));
    EXPECT_EQ(control_word_writes().size(), 2u);
}

TEST_F(Streaming, EnablingSetsTheStreamBitsAndStartsTheRhdInterface) {
    Stdout_Capture quiet;
    library->prepare_for_streaming();
    box->clear_access_logs();
    library->enable_streaming(true, {0, 2}, true, {2, 2, 5, 40}, true);
    // NP ports 0 and 2, then the soft trigger pulse (bit 9 up and down).
    EXPECT_THAT(control_word_writes(),
                ElementsAre(Register_Access{0, 0x5C5}, Register_Access{0, 0x7C5}, Register_Access{0, 0x5C5}));
    EXPECT_THAT(box->register_writes_from(0x1000, 0x10FF),
                ElementsAre(Register_Access{0x1000, 2}, Register_Access{0x1050, 0x24},
                            Register_Access{0x1054, 0x12345678}, Register_Access{0x10A4, 1}));
    // Duplicates collapse and numbers above 31 are no stream: the FPGA sends streams 2 and 5.
    EXPECT_EQ(library->get_demux().get_enabled_RHD_stream_count(), 2u);
}

TEST_F(Streaming, DisablingClearsTheStreamBitsAndTheRhdMask) {
    Stdout_Capture quiet;
    library->enable_streaming(true, {0, 1, 2, 3}, true, {}, false);
    box->clear_access_logs();
    library->disable_streaming();
    EXPECT_THAT(box->register_writes(), ElementsAre(Register_Access{0, 0x540}, Register_Access{0x1050, 0}));
}

TEST_F(Streaming, AfterAFailedOpenDisablingLeavesTheDeviceAlone) {
    box->set_faults({.open_fails = true});
    auto& lib = make_library();
    EXPECT_FALSE(lib.open());
    box->clear_access_logs();
    Log_Capture capture;
    lib.disable_streaming();
    lib.disable_data_sources();
    lib.purge_read_buffers();
    EXPECT_TRUE(box->register_writes().empty());
    EXPECT_TRUE(capture.contains(logging::Verbosity_WARNING,
                                 "Skipping commands for disabling streams ( m_current_error_level > 0 )"));
    EXPECT_TRUE(capture.contains("m_current_error_level != 0"));
}

TEST_F(Streaming, ListenerWiringThroughTheGainFilterOrStraight) {
    auto writer = std::make_shared<demux::CP_L2_CH_Results_Null_Writer>();
    library->set_NP_aqustion_listener(writer, 1, true);
    auto filter = library->get_gain_filter(1);
    EXPECT_EQ(library->get_demux().get_L2_CH_Results_Listener(1).lock(), filter);
    EXPECT_EQ(filter->get_downstream_listener().lock(), writer);
    library->set_NP_aqustion_listener(writer, 2, false);
    EXPECT_EQ(library->get_demux().get_L2_CH_Results_Listener(2).lock(), writer);
    try {
        library->set_NP_aqustion_listener(writer, 4, true);
        FAIL();
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "invalid array<T, N> subscript");
    }
    try {
        library->set_NP_aqustion_listener(writer, 4, false);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(),
                     "illegal np demux index inside Async_PSB_And_RHD_Demux::set_L2_CH_Results_Listener");
    }
}

TEST_F(Streaming, SavedListenersComeBackIncludingTheGainFiltersListeners) {
    auto converter_stand_in = std::make_shared<demux::CP_L2_CH_Results_Null_Writer>();
    auto rhd = std::make_shared<demux::RHD_Frame_Null_listener>();
    for (uint32_t port = 0; port < 4; ++port)
        library->set_NP_aqustion_listener(converter_stand_in, port, true);
    library->set_RHD_aqustion_listener(rhd);
    Stdout_Capture out;
    library->save_stream_listeners();
    auto test_listener = std::make_shared<demux::CP_L2_CH_Results_Null_Writer>();
    library->set_NP_aqustion_listener(test_listener, 3, true);
    library->set_NP_aqustion_listener(test_listener, 0, false);
    library->set_RHD_aqustion_listener(std::make_shared<demux::RHD_Frame_Null_listener>());
    library->restore_stream_listeners();
    EXPECT_EQ(out.take(), "Saving stream listeners\nRestoring stream listeners\n");
    for (uint32_t port = 0; port < 4; ++port) {
        EXPECT_EQ(library->get_demux().get_L2_CH_Results_Listener(port).lock(),
                  library->get_gain_filter(port));
        EXPECT_EQ(library->get_gain_filter(port)->get_downstream_listener().lock(), converter_stand_in);
    }
    EXPECT_EQ(library->get_demux().get_RHD_Results_Listener().lock(), rhd);
}

TEST_F(Streaming, ZeroByteReadPushesNothingButCountsTheRead) {
    Stdout_Capture out;
    library->prepare_for_streaming();
    library->enable_streaming(true, {0}, false, {}, false);
    EXPECT_TRUE(library->pump_data_to_demux());
    EXPECT_EQ(library->get_read_issue_counter(), 1u);
    EXPECT_EQ(library->get_total_bytes_pumped(), 0u);
    EXPECT_NE(out.take().find("R:0 byte read from device\n"), std::string::npos);
    EXPECT_EQ(library->get_demux().get_main_queue_element_count(), 0u);
}

TEST_F(Streaming, EveryTwoHundredFiftySixthReadIsAnnounced) {
    synth::Synth_Settings settings;
    settings.np_ports = {0};
    settings.rhd = false;
    box->stream().set_source(box_model::Card_To_Host_Stream_Model::synthesizer(settings));
    // Each pump gets one 64-byte read, then reads that deliver nothing.
    std::vector<uint32_t> sizes = {64};
    sizes.insert(sizes.end(), box_model::CP_Box_Model_MURA_Controller::ZERO_READ_LIMIT, 0);
    box->stream().set_read_sizes(sizes);
    Stdout_Capture out;
    library->prepare_for_streaming();
    library->enable_streaming(true, {0}, false, {}, false);
    for (int i = 0; i < 256; ++i)
        ASSERT_TRUE(library->pump_data_to_demux());
    const std::string printed = out.take();
    EXPECT_EQ(printed.find("A:"), printed.rfind("A:"));
    EXPECT_NE(printed.find("A:64 byte read from device\n"), std::string::npos);
    EXPECT_EQ(library->get_total_bytes_pumped(), 256u * 64);
}

// A read waits until it is full: it is the whole pages that hold a millisecond of the enabled
// streams, so that a host gets the data within about a millisecond of the box sending it.
TEST_F(Streaming, DeviceReadsHoldAMillisecondOfTheEnabledStreams) {
    std::vector<uint64_t> read_lengths;
    {
        Stdout_Capture quiet_out;
        Stderr_Capture quiet_err;
        library->prepare_for_streaming();
        auto read_once = [&](std::vector<uint32_t> np_ports, std::vector<uint32_t> rhd_streams) {
            synth::Synth_Settings settings;
            settings.np_ports = np_ports;
            settings.rhd_stream_count = static_cast<uint32_t>(rhd_streams.size());
            box->stream().set_source(box_model::Card_To_Host_Stream_Model::synthesizer(settings));
            library->enable_streaming(true, np_ports, true, rhd_streams, false);
            const uint64_t before = library->get_total_bytes_pumped();
            library->pump_data_to_demux();
            read_lengths.push_back(library->get_total_bytes_pumped() - before);
        };
        read_once({0}, {});
        read_once({}, {0, 1});
        read_once({0, 1, 2, 3}, {});
        read_once({0, 1, 2, 3}, {0, 1});
    }
    // 30 sample periods of: one probe's super frame (65 rows of 16 bytes) and an RHD frame
    // without data streams (20 words, 7 to a row), 32,571 bytes (8 pages); an RHD frame of two
    // streams alone (92 words), 6,309 (2 pages); four probes and RHD frames without data
    // streams, as the API streams, 126,171 (31 pages); the whole box, 131,109 (32 pages).
    EXPECT_THAT(read_lengths, ElementsAre(8u * 4096, 2u * 4096, 31u * 4096, 32u * 4096));
}

TEST_F(Streaming, FailingDeviceReadEndsThePumpAtErrorLevelThree) {
    box->stream().set_read_fails(true);
    Stdout_Capture quiet;
    library->prepare_for_streaming();
    Log_Capture capture;
    EXPECT_FALSE(library->pump_data_to_demux());
    EXPECT_TRUE(capture.contains(logging::Verbosity_WARNING,
                                 "pump_hw_data_to_demux exception catched : c2h transfer failed"));
    EXPECT_EQ(library->get_current_error_level(), 3u);
    EXPECT_EQ(library->get_read_issue_counter(), 0u);
    // With the error level set the destructor leaves the sources alone.
    box->clear_access_logs();
    library.reset();
    EXPECT_TRUE(box->register_writes().empty());
}

#if defined(__linux__)
// Debuggers, top -H and perf show a host's developer which threads are the library's.
TEST_F(Streaming, TheDataPathThreadsCarryTheirNames) {
    Stdout_Capture quiet;
    library->prepare_for_streaming();
    const std::set<std::string> wanted = {"np3 NP0", "np3 NP1", "np3 NP2", "np3 NP3", "np3 RHD", "np3 demux"};
    auto all_named = [&] {
        std::set<std::string> names;
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            std::ifstream comm(task.path() / "comm");
            std::string name;
            std::getline(comm, name);
            names.insert(name);
        }
        return std::includes(names.begin(), names.end(), wanted.begin(), wanted.end());
    };
    // Each thread names itself as it starts.
    for (int i = 0; i < 500 && !all_named(); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(all_named());
}
#endif

TEST_F(Streaming, PumpingBeforePreparationIsRefused) {
    Log_Capture capture;
    EXPECT_FALSE(library->pump_data_to_demux());
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "pump_data_to_demux : streaming is not prepared"));
}

TEST_F(Streaming, ShutdownStopsTheDemuxThreadAndReportsTheCounters) {
    {
        Stdout_Capture quiet;
        library->prepare_for_streaming();
    }
    Log_Capture capture(logging::Verbosity_INFO);
    {
        Stdout_Capture quiet;
        library->finalize_stream();
    }
    EXPECT_TRUE(library->get_demux().is_finished());
    EXPECT_TRUE(capture.contains("Purge on exit disabled"));
    EXPECT_TRUE(capture.contains("Read issue counter : 0"));
    EXPECT_TRUE(capture.contains("Total processed SF counter : 0"));
    EXPECT_TRUE(capture.contains("Total processed RHD frames : 0"));
    EXPECT_TRUE(library->is_prepared_for_streaming());
    // A second stop finds nothing to stop.
    library->stop_main_demux_thread();
    EXPECT_TRUE(capture.contains("m_main_demux_thread_started already not started"));
}

// A listener that holds its worker thread until released: the demux thread cannot finish.
class Stuck_Listener : public demux::I_L2_Demux_CH_Results {
public:
    void publish_ap_ch_data(demux::Channel_Block&) override {
        std::unique_lock lock(m_mutex);
        m_stuck = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_released; });
    }
    void publish_lp_ch_data(demux::Channel_Block&) override {}
    void wait_until_stuck() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stuck; });
    }
    void release() {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stuck = false;
    bool m_released = false;
};

TEST_F(Streaming, ADemuxThreadThatNeverFinishesIsLeftRunningInsteadOfHangingTheHost) {
    synth::Synth_Settings settings;
    settings.np_ports = {0};
    settings.rhd = false;
    box->stream().set_source(box_model::Card_To_Host_Stream_Model::synthesizer(settings));
    auto stuck = std::make_shared<Stuck_Listener>();
    library->set_NP_aqustion_listener(stuck, 0, false);
    Stdout_Capture quiet;
    library->prepare_for_streaming();
    library->enable_streaming(true, {0}, false, {}, false);
    while (library->get_demux().get_total_processed_SF_count() == 0 &&
           library->get_total_bytes_pumped() < 8u << 20)
        ASSERT_TRUE(library->pump_data_to_demux());
    stuck->wait_until_stuck();
    Log_Capture capture;
    library->set_demux_finish_timeout(50ms);
    const auto& abandoned = library->get_demux();
    library->stop_main_demux_thread();
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR,
                                 "The main demux thread did not finish within 50 ms; it is left running"));
    // The library goes on with a fresh demultiplexer and can be destroyed without waiting.
    EXPECT_NE(&library->get_demux(), &abandoned);
    EXPECT_FALSE(library->get_demux().is_finished());
    // Once unblocked, the set-aside demultiplexer still winds down and joins its workers.
    stuck->release();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!abandoned.is_finished() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(abandoned.is_finished());
}

TEST_F(Streaming, TriggersAndTtlLines) {
    box->set_rhd_ttl_in(0x00030001);
    box->clear_access_logs();
    library->send_soft_trigger();
    library->set_hw_trigger_ttl_source(5);
    library->set_ttl_out(0xABCD);
    EXPECT_EQ(library->get_ttl_in(), 0x00030001u);
    EXPECT_THAT(box->register_writes(),
                ElementsAre(Register_Access{0, 0x740}, Register_Access{0, 0x540}, Register_Access{0, 0x2D40},
                            Register_Access{0x1054, 0xABCD}));
}

class SimulatedStreaming : public test_support::Simulated_Library_Fixture {
protected:
    Scratch_Directory scratch;
};

TEST_F(SimulatedStreaming, MissingRecordingLeavesTheLibraryUnprepared) {
    Stdout_Capture out;
    EXPECT_FALSE(library->prepare_for_simulation_streaming(scratch.file("absent.bin")));
    EXPECT_EQ(out.take(), "Sim file open error : " + scratch.file("absent.bin") + "\n");
    EXPECT_FALSE(library->is_prepared_for_streaming());
}

TEST_F(SimulatedStreaming, RecordingIsReplayedInWholeMebibytesAndRewound) {
    // 2.5 MiB of rows with stream id 9, which the demux only reports.
    std::string recording(5 * 512 * 1024, '\0');
    for (size_t i = 0; i < recording.size(); i += 16)
        recording[i] = static_cast<char>(0xD9);
    const auto path = scratch.write("rec.bin", recording);
    Stdout_Capture out;
    const bool prepared = library->prepare_for_simulation_streaming(path);
    const bool prepared_again = library->prepare_for_simulation_streaming(path);
    library->enable_streaming(true, {0}, false, {}, false);
    std::vector<bool> pumped;
    for (int i = 0; i < 4; ++i)
        pumped.push_back(library->pump_data_to_demux());
    library->stop_main_demux_thread();
    const std::string printed = out.take();
    EXPECT_TRUE(prepared);
    EXPECT_TRUE(prepared_again);
    EXPECT_EQ(pumped, (std::vector<bool>{true, true, false, true}));
    EXPECT_EQ(pauses.count(10ms), 3u);
    // Three whole transfers and the poison packet.
    EXPECT_EQ(library->get_demux().get_processed_transfer_buffer_count(), 4u);
    EXPECT_NE(printed.find("Sim file opened : " + path + "\n"), std::string::npos);
    EXPECT_NE(printed.find("Alread prepard for streaming (simulation)\n"), std::string::npos);
    EXPECT_NE(printed.find("Simulation worker thread started\n"), std::string::npos);
    EXPECT_NE(printed.find("resume streaming (simulation)\n"), std::string::npos);
}

TEST_F(SimulatedStreaming, PausedReplayReadsButPushesNothing) {
    const auto path = scratch.write("rec.bin", std::string(1024 * 1024, '\0'));
    Stdout_Capture out;
    const bool prepared = library->prepare_for_simulation_streaming(path);
    library->disable_streaming();
    library->enable_streaming(false, {}, false, {}, false);
    const bool pumped = library->pump_data_to_demux();
    library->stop_main_demux_thread();
    const std::string printed = out.take();
    EXPECT_TRUE(prepared);
    EXPECT_TRUE(pumped);
    EXPECT_EQ(library->get_demux().get_enabled_RHD_stream_count(), 0u);
    EXPECT_EQ(library->get_demux().get_processed_transfer_buffer_count(), 1u); // the poison only
    EXPECT_NE(printed.find("disable_streaming in simulation mode\npause streaming (simulation)\n"),
              std::string::npos);
    EXPECT_NE(printed.find("Enable stream incorrect request (simulation)\n"), std::string::npos);
}

} // namespace
} // namespace Selvan::MURA
