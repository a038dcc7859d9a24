#include "Log.h"
#include "Log_Capture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <unistd.h>

namespace Selvan::MURA {
namespace {

using logging::Verbosity_ERROR;
using logging::Verbosity_INFO;
using logging::Verbosity_WARNING;
using test_support::Captured_Line;
using test_support::Log_Capture;

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(Logging, FormatsPrintfStyleLinesAtEachLevel) {
    Log_Capture capture;
    logging::info("Masked pll status : %x", 0xC);
    logging::warning("check_np_ports_status failed check connector connections");
    logging::error("FPGA digital_design_signature : %08x", 0x4E50u);
    logging::log(3, "detail %d of %s", 3, "nine");
    EXPECT_EQ(capture.lines(),
              (std::vector<Captured_Line>{
                  {Verbosity_INFO, "Masked pll status : c"},
                  {Verbosity_WARNING, "check_np_ports_status failed check connector connections"},
                  {Verbosity_ERROR, "FPGA digital_design_signature : 00004e50"},
                  {3, "detail 3 of nine"}}));
}

TEST(Logging, TextWithoutArgumentsIsNotTreatedAsAFormat) {
    Log_Capture capture;
    logging::info("100% done");
    EXPECT_EQ(capture.texts(), std::vector<std::string>{"100% done"});
}

TEST(Logging, CutoffFollowsTheMostVerboseSink) {
    logging::set_console_verbosity(Verbosity_INFO);
    EXPECT_EQ(logging::current_verbosity_cutoff(), Verbosity_INFO);
    EXPECT_FALSE(logging::is_enabled(1));
    {
        Log_Capture capture(4);
        EXPECT_EQ(logging::current_verbosity_cutoff(), 4);
        EXPECT_TRUE(logging::is_enabled(4));
        EXPECT_FALSE(logging::is_enabled(5));
    }
    EXPECT_EQ(logging::current_verbosity_cutoff(), Verbosity_INFO);
    logging::set_console_verbosity(7);
    EXPECT_EQ(logging::current_verbosity_cutoff(), 7);
    logging::set_console_verbosity(-3);
}

TEST(Logging, SinksOnlyReceiveLinesUpToTheirVerbosity) {
    Log_Capture info_only(Verbosity_INFO);
    Log_Capture everything(9);
    for (int verbosity = Verbosity_ERROR; verbosity <= 9; ++verbosity)
        logging::log(verbosity, "v%d", verbosity);
    EXPECT_EQ(info_only.texts(), (std::vector<std::string>{"v-2", "v-1", "v0"}));
    EXPECT_EQ(everything.texts().size(), 12u);
}

TEST(Logging, ScopesAnnounceEntryAndExitAndNest) {
    Log_Capture capture;
    {
        MURA_LOG_SCOPE(Verbosity_INFO, "openBS");
        logging::info("slotID : %d", 0);
        { MURA_LOG_SCOPE(1, "getSerialNumber"); }
    }
    EXPECT_EQ(capture.texts(), (std::vector<std::string>{"{ openBS", "slotID : 0", "{ getSerialNumber",
                                                         "} getSerialNumber", "} openBS"}));
    EXPECT_EQ(capture.lines()[2].verbosity, 1);
}

TEST(Logging, ScopeAboveTheCutoffStaysSilentForItsWholeLife) {
    Log_Capture capture(Verbosity_INFO);
    {
        MURA_LOG_SCOPE(1, "setGain");
        logging::info("inside");
    }
    EXPECT_EQ(capture.texts(), std::vector<std::string>{"inside"});
}

TEST(Logging, LogFileIsTruncatedAndReceivesEverythingUpToNine) {
    const auto path =
        std::filesystem::temp_directory_path() / ("np3_log_test_" + std::to_string(::getpid()) + ".log");
    {
        std::ofstream old(path);
        old << "stale line from an earlier run\n";
    }
    ASSERT_TRUE(logging::add_file(path.string()));
    {
        MURA_LOG_SCOPE(Verbosity_INFO, "closeBS");
        logging::log(9, "deepest detail");
        logging::info("FPGA temperature : %.2f\n", 34.47);
    }
    logging::remove_file(path.string());
    logging::info("after removal");

    const std::string text = read_file(path);
    std::filesystem::remove(path);
    EXPECT_EQ(text.find("stale line"), std::string::npos);
    const auto lines = lines_of(text);
    ASSERT_EQ(lines.size(), 4u) << text;
    EXPECT_NE(lines[0].find("INFO| { closeBS"), std::string::npos);
    EXPECT_NE(lines[1].find("   9| .   deepest detail"), std::string::npos);
    // A message's own trailing line end does not produce an empty line.
    EXPECT_NE(lines[2].find("INFO| .   FPGA temperature : 34.47"), std::string::npos);
    EXPECT_NE(lines[3].find("s: closeBS"), std::string::npos);
}

TEST(Logging, LogFileThatCannotBeCreatedIsRefusedWithAMessage) {
    // A regular file as the parent directory defeats even a process running as root.
    const auto parent =
        std::filesystem::temp_directory_path() / ("np3_not_a_dir_" + std::to_string(::getpid()));
    std::ofstream(parent) << "x";
    const std::string path = (parent / "MURA.log").string();
    Log_Capture capture;
    EXPECT_FALSE(logging::add_file(path));
    std::filesystem::remove(parent);
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0].verbosity, Verbosity_ERROR);
    EXPECT_EQ(capture.texts()[0].rfind("Cannot open log file " + path, 0), 0u);
}

TEST(Logging, ConcurrentLinesArriveWholeAndComplete) {
    const auto path =
        std::filesystem::temp_directory_path() / ("np3_log_mt_" + std::to_string(::getpid()) + ".log");
    ASSERT_TRUE(logging::add_file(path.string()));
    Log_Capture capture;
    constexpr int threads = 4;
    constexpr int lines_per_thread = 500;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t] {
            MURA_LOG_SCOPE(Verbosity_INFO, "worker");
            for (int i = 0; i < lines_per_thread; ++i)
                logging::log(2, "thread %d line %d", t, i);
        });
    }
    for (auto& worker : workers)
        worker.join();
    logging::remove_file(path.string());

    std::set<std::string> seen;
    for (const auto& text : capture.texts())
        seen.insert(text);
    for (int t = 0; t < threads; ++t)
        for (int i = 0; i < lines_per_thread; ++i)
            EXPECT_TRUE(seen.count("thread " + std::to_string(t) + " line " + std::to_string(i)));
    const auto file_lines = lines_of(read_file(path));
    std::filesystem::remove(path);
    EXPECT_EQ(file_lines.size(), static_cast<size_t>(threads * (lines_per_thread + 2)));
    // Each thread indents its own lines inside its own scope.
    for (const auto& line : file_lines) {
        if (line.find("thread ") != std::string::npos) {
            EXPECT_NE(line.find("   2| .   thread "), std::string::npos) << line;
        }
    }
}

} // namespace
} // namespace Selvan::MURA
