// The mock is exercised the way a host uses it: loaded at run time (dlopen with local binding,
// or LoadLibrary), its functions looked up by name, each test in a scratch working directory of
// its own, where the test writes the replay file it needs.

#include "Output_Capture.h"
#include "Scratch_Directory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

#if !defined(_WIN32)
// The path of the mock library the build made.
const char* np3_npapi_mock_library();
#endif

namespace Selvan::MURA {
namespace {

using test_support::Scratch_Directory;
using test_support::Stderr_Capture;

constexpr std::size_t RECORD_SIZE = 10056;
using Record = std::array<unsigned char, RECORD_SIZE>;
constexpr const char* REPLAY_FILE_NAME = "NP1_PXI_Formatted.bin";

using Scan_PXI = int(std::uint32_t*);
using Slot_Call = int(std::uint8_t);
using Slot_Port_Call = int(std::uint8_t, std::int8_t);
using Read_Electrode_Data = int(std::uint8_t, std::int8_t, void*, std::size_t*, std::size_t);
using Fifo_State = int(std::uint8_t, std::int8_t, std::size_t*, std::size_t*);
using Port_Text = int(std::uint8_t, std::int8_t, char*, std::size_t);
using Slot_Text = int(std::uint8_t, char*, std::size_t);
using Port_Serial = int(std::uint8_t, std::int8_t, std::uint64_t*);
using Slot_Serial = int(std::uint8_t, std::uint64_t*);
using API_Version = void(std::uint8_t*, std::uint8_t*);
using Slot_Version = int(std::uint8_t, std::uint8_t*, std::uint8_t*);
using Port_Version = int(std::uint8_t, std::int8_t, std::uint8_t*, std::uint8_t*);
using Set_Level = void(int);
// How a host calls the functions that take anything and do nothing: with its own arguments,
// outputs among them.
using Any_Arguments = int(std::uint8_t, std::int8_t, int*, int*, double*, char*, std::size_t);

// The functions that accept any arguments and do nothing.
std::vector<std::string> do_nothing_functions() {
    std::istringstream names(
        "selectElectrode setGain setReference setAPCornerFrequency HSTestI2C HSTestMCLK HSTestNRST "
        "HSTestOscillator HSTestPCLK HSTestPSB HSTestREC_NRESET HSTestVDDA1V2 HSTestVDDA1V8 HSTestVDDD1V2 "
        "HSTestVDDD1V8 arm bistBS bistEEPROM bistHB bistI2CMM bistNoise bistPSB bistSR bistSignal "
        "bistStartPRBS bistStopPRBS bs_update qbsc_update closeBS enableFileStream setFileStream "
        "getADCparams setADCparams getBSBootVersion getBSCBootVersion getBSCTemperature getBSTemperature "
        "getDataMode setDataMode getGain getParameter getParameter_double setParameter "
        "setParameter_double getTriggerBinding getTriggerInput getTriggerOutput setTriggerBinding "
        "setTriggerEdge setTriggerInput setTriggerOutput openEmulationProbe readADCFifo readAPFifo "
        "readLFPFifo readBSCMM writeBSCMM readI2C writeI2C readId writeId setADCCalibration "
        "setGainCalibration setBSCVersion setFlexVersion setHSVersion setHSLed setLog setOPMODE "
        "setCALMODE setREC_NRESET setStdb setSWTrigger setTestSignal writeBSCPN writeBSCSN writeFlexPN "
        "writeHSPN writeHSSN writeProbePN writeProbeConfiguration");
    return {std::istream_iterator<std::string>(names), std::istream_iterator<std::string>()};
}

// A record whose every byte tells which record it is and where in it the byte sits.
Record numbered_record(int number) {
    Record record;
    for (std::size_t i = 0; i < record.size(); ++i)
        record[i] = static_cast<unsigned char>(number * 37 + i * 7 + 1);
    return record;
}

Record filled_record(unsigned char value) {
    Record record;
    record.fill(value);
    return record;
}

void write_replay_file(int records, std::size_t trailing_bytes = 0) {
    std::ofstream out(REPLAY_FILE_NAME, std::ios::binary);
    for (int number = 0; number < records; ++number) {
        const Record record = numbered_record(number);
        out.write(reinterpret_cast<const char*>(record.data()), record.size());
    }
    const Record partial = numbered_record(records);
    out.write(reinterpret_cast<const char*>(partial.data()), static_cast<std::streamsize>(trailing_bytes));
}

#if defined(_WIN32)
// Beside the test program, where the build puts every DLL; found there by its name.
constexpr const char* MOCK_LIBRARY = "npapi_mock.dll";

void* load_mock() {
    return ::LoadLibraryA(MOCK_LIBRARY);
}
bool mock_is_loaded() {
    return ::GetModuleHandleA(MOCK_LIBRARY) != nullptr;
}
void unload_mock(void* library) {
    ::FreeLibrary(static_cast<HMODULE>(library));
}
void* mock_symbol(void* library, const std::string& name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name.c_str()));
}
std::string load_error() {
    return "LoadLibrary error " + std::to_string(::GetLastError());
}

// Windows has no list of a process's open files at hand, but a file the C runtime holds open
// cannot be renamed: 1 when the replay file is open (however often), 0 when it is not.
int open_replay_files() {
    std::error_code error;
    std::filesystem::rename(REPLAY_FILE_NAME, "renamed.bin", error);
    if (error)
        return std::filesystem::exists(REPLAY_FILE_NAME) ? 1 : 0;
    std::filesystem::rename("renamed.bin", REPLAY_FILE_NAME);
    return 0;
}
#else
void* load_mock() {
    return ::dlopen(np3_npapi_mock_library(), RTLD_NOW | RTLD_LOCAL);
}
bool mock_is_loaded() {
    return ::dlopen(np3_npapi_mock_library(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD) != nullptr;
}
void unload_mock(void* library) {
    ::dlclose(library);
}
void* mock_symbol(void* library, const std::string& name) {
    return ::dlsym(library, name.c_str());
}
std::string load_error() {
    const char* text = ::dlerror();
    return text ? text : "";
}

// How many descriptors of this process refer to a file of that name.
int open_descriptors_of(const std::string& file_name) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const auto target = std::filesystem::read_symlink(entry.path(), error);
        if (!error && target.filename() == file_name)
            ++count;
    }
    return count;
}

int open_replay_files() {
    return open_descriptors_of(REPLAY_FILE_NAME);
}

bool descriptor_is_open(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}
#endif

struct Log_Line {
    int line;
    std::string function;
    std::string message;
};

// Splits captured standard error into log lines "<file>:<line>:<function>(): <message>\r\n".
std::vector<Log_Line> log_lines(const std::string& text) {
    static const std::regex format(R"(neuropixAPI\.cpp:([1-9][0-9]*):([A-Za-z_]+)\(\): ([^\r\n]*)\r\n)");
    std::vector<Log_Line> lines;
    auto position = text.cbegin();
    std::smatch match;
    while (position != text.cend()) {
        if (!std::regex_search(position, text.cend(), match, format,
                               std::regex_constants::match_continuous)) {
            ADD_FAILURE() << "not a log line: " << std::string(position, text.cend());
            break;
        }
        lines.push_back({std::stoi(match[1].str()), match[2].str(), match[3].str()});
        position = match[0].second;
    }
    return lines;
}

class NpapiMock : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous_directory = std::filesystem::current_path();
        std::filesystem::current_path(m_scratch_directory.path());
        // The replay state is process-wide: each test starts from a library loaded afresh.
        ASSERT_FALSE(mock_is_loaded());
        m_library = load_mock();
        ASSERT_NE(m_library, nullptr) << load_error();
    }

    void TearDown() override {
        unload();
        std::filesystem::current_path(m_previous_directory);
    }

    void unload() {
        if (m_library != nullptr)
            unload_mock(m_library);
        m_library = nullptr;
    }

    template <typename Function>
    Function* function(const std::string& name) {
        void* symbol = mock_symbol(m_library, name);
        EXPECT_NE(symbol, nullptr) << name;
        return reinterpret_cast<Function*>(symbol);
    }

    int open_probe(std::uint8_t slot, std::int8_t port) {
        Stderr_Capture quiet;
        return function<Slot_Port_Call>("openProbe")(slot, port);
    }

    // Reads one record; returns the number of records delivered.
    std::size_t read_record(Record& record) {
        std::size_t count = 99;
        EXPECT_EQ(function<Read_Electrode_Data>("readElectrodeData")(0, 1, record.data(), &count, 1), 0);
        return count;
    }

    Scratch_Directory m_scratch_directory;
    std::filesystem::path m_previous_directory;
    void* m_library = nullptr;
};

#if !defined(_WIN32)
// On Linux the mock's close and init must not take the C library's place in the process.
TEST_F(NpapiMock, StaysOutOfTheGlobalScopeSoTheCLibraryKeepsItsClose) {
    EXPECT_EQ(::dlsym(RTLD_DEFAULT, "openProbe"), nullptr);
    EXPECT_EQ(::dlsym(RTLD_DEFAULT, "init"), nullptr);
    EXPECT_NE(::dlsym(RTLD_DEFAULT, "close"), ::dlsym(m_library, "close"));

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::close(fds[0]), 0);
    EXPECT_FALSE(descriptor_is_open(fds[0]));
    EXPECT_EQ(errno, EBADF);

    // The C++ runtime closes its files through the C library's close too.
    {
        std::ofstream out("file");
        out << "text";
        EXPECT_EQ(open_descriptors_of("file"), 1);
    }
    EXPECT_EQ(open_descriptors_of("file"), 0);

    // The mock's close answers for a slot and a port; it closes no descriptor.
    Stderr_Capture err;
    EXPECT_EQ(function<Slot_Port_Call>("close")(static_cast<std::uint8_t>(fds[1]), 1), 0);
    const auto lines = log_lines(err.take());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].function, "close");
    EXPECT_EQ(lines[0].message, "slotID=" + std::to_string(fds[1]) + ", port=1");
    EXPECT_TRUE(descriptor_is_open(fds[1]));
    EXPECT_EQ(::close(fds[1]), 0);
}

TEST_F(NpapiMock, NpCloseLogsThenRunsTheMocksOwnClose) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const auto slot = static_cast<std::uint8_t>(fds[0]);
    Stderr_Capture err;
    EXPECT_EQ(function<Slot_Port_Call>("np_close")(slot, 2), 0);
    EXPECT_EQ(function<Slot_Port_Call>("close")(slot, 2), 0);
    const auto lines = log_lines(err.take());
    ASSERT_EQ(lines.size(), 3u);
    const std::string message = "slotID=" + std::to_string(fds[0]) + ", port=2";
    EXPECT_EQ(lines[0].function, "np_close");
    EXPECT_EQ(lines[0].message, message);
    EXPECT_EQ(lines[1].function, "close");
    EXPECT_EQ(lines[1].message, message);
    EXPECT_EQ(lines[1].line, lines[2].line);
    EXPECT_NE(lines[0].line, lines[1].line);
    EXPECT_EQ(lines[2].function, "close");
    // Had the call gone to the C library's close, the descriptor numbered like the slot would be gone.
    EXPECT_TRUE(descriptor_is_open(fds[0]));
    ::close(fds[0]);
    ::close(fds[1]);
}
#endif

TEST_F(NpapiMock, LoggingFunctionsWriteOneLineEachWithoutVerbosityControl) {
    function<Set_Level>("np_dbg_setlevel")(0);
    EXPECT_EQ(function<Any_Arguments>("setLog")(0, 0, nullptr, nullptr, nullptr, nullptr, 0), 0);
    Stderr_Capture err;
    std::uint32_t count = 7;
    char text[32];
    EXPECT_EQ(function<Scan_PXI>("scanPXI")(&count), 0);
    EXPECT_EQ(function<Slot_Call>("openBS")(200), 0);
    EXPECT_EQ(function<Slot_Port_Call>("openProbe")(3, -2), 24);
    EXPECT_EQ(function<Slot_Port_Call>("init")(255, 127), 0);
    EXPECT_EQ(function<Slot_Port_Call>("close")(0, -128), 0);
    EXPECT_EQ(function<Port_Text>("readProbePN")(9, 1, text, sizeof text), 0);
    const std::string text_written = err.take();

    const auto lines = log_lines(text_written);
    ASSERT_EQ(lines.size(), 6u) << text_written;
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"scanPXI", "scanPXI : 0"},         {"openBS", "slotID=200"},
        {"openProbe", "slotID=3, port=-2"}, {"init", "slotID=255, port=127"},
        {"close", "slotID=0, port=-128"},   {"readProbePN", "slotID=9"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(lines[i].function, expected[i].first);
        EXPECT_EQ(lines[i].message, expected[i].second);
    }
}

TEST_F(NpapiMock, ScanFindsNoBasestationWhileOpeningAndReadingSucceed) {
    std::uint32_t count = 7;
    Stderr_Capture quiet;
    EXPECT_EQ(function<Scan_PXI>("scanPXI")(&count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(function<Slot_Call>("openBS")(0), 0);
    EXPECT_EQ(function<Slot_Port_Call>("openProbe")(0, 1), 0);
    EXPECT_EQ(function<Slot_Port_Call>("init")(0, 1), 0);
    Record record = filled_record(0xAB);
    EXPECT_EQ(read_record(record), 1u);
}

TEST_F(NpapiMock, ReadsBeforeOpenProbeDeliverZeroRecords) {
    write_replay_file(2);
    for (int call = 0; call < 3; ++call) {
        Record record = filled_record(0xAB);
        EXPECT_EQ(read_record(record), 1u);
        EXPECT_EQ(record, filled_record(0));
    }
    EXPECT_EQ(open_replay_files(), 0);
}

TEST_F(NpapiMock, ReplaysEachWholeRecordOnceThenReportsNoneForEver) {
    write_replay_file(2);
    ASSERT_EQ(open_probe(0, 1), 0);
    Record record{};
    EXPECT_EQ(read_record(record), 1u);
    EXPECT_EQ(record, numbered_record(0));
    EXPECT_EQ(read_record(record), 1u);
    EXPECT_EQ(record, numbered_record(1));
    for (int call = 0; call < 3; ++call) {
        record = filled_record(0xAB);
        EXPECT_EQ(read_record(record), 0u);
        EXPECT_EQ(record, filled_record(0xAB));
    }
}

TEST_F(NpapiMock, TrailingPartialRecordIsNeverDelivered) {
    write_replay_file(1, RECORD_SIZE / 2);
    ASSERT_EQ(open_probe(0, 1), 0);
    Record record{};
    EXPECT_EQ(read_record(record), 1u);
    EXPECT_EQ(record, numbered_record(0));
    record = filled_record(0xAB);
    EXPECT_EQ(read_record(record), 0u);
    EXPECT_EQ(record, filled_record(0xAB));
}

TEST_F(NpapiMock, ReopeningTheProbeRestartsTheReplayAndClosesThePreviousFile) {
    write_replay_file(3);
    ASSERT_EQ(open_probe(0, 1), 0);
    Record record{};
    EXPECT_EQ(read_record(record), 1u);
    EXPECT_EQ(read_record(record), 1u);
    EXPECT_EQ(record, numbered_record(1));

    ASSERT_EQ(open_probe(0, 1), 0);
    ASSERT_EQ(open_probe(0, 1), 0);
    EXPECT_EQ(open_replay_files(), 1);
    EXPECT_EQ(read_record(record), 1u);
    EXPECT_EQ(record, numbered_record(0));
}

TEST_F(NpapiMock, UnloadingClosesTheReplayFile) {
    write_replay_file(1);
    ASSERT_EQ(open_probe(0, 1), 0);
    EXPECT_EQ(open_replay_files(), 1);
    unload();
    EXPECT_EQ(open_replay_files(), 0);
}

TEST_F(NpapiMock, MissingReplayFileStillOpensAndServesZeroRecords) {
    EXPECT_EQ(open_probe(0, 1), 0);
    for (int call = 0; call < 3; ++call) {
        Record record = filled_record(0xAB);
        EXPECT_EQ(read_record(record), 1u);
        EXPECT_EQ(record, filled_record(0));
    }
    // A file that appears later is picked up by the next openProbe.
    write_replay_file(1);
    EXPECT_EQ(open_probe(0, 1), 0);
    Record record{};
    EXPECT_EQ(read_record(record), 1u);
    EXPECT_EQ(record, numbered_record(0));
}

TEST_F(NpapiMock, OnlySlotZeroPortOneHasAProbe) {
    write_replay_file(2);
    const std::vector<std::pair<std::uint8_t, std::int8_t>> wrong = {
        {1, 1}, {255, 1}, {0, 0}, {0, 2}, {0, -1}};
    for (const auto& [slot, port] : wrong)
        EXPECT_EQ(open_probe(slot, port), 24) << int(slot) << "/" << int(port);
    EXPECT_EQ(open_replay_files(), 0);
    Record record = filled_record(0xAB);
    EXPECT_EQ(read_record(record), 1u);
    EXPECT_EQ(record, filled_record(0));

    // Nor does a wrong openProbe disturb a replay in progress.
    ASSERT_EQ(open_probe(0, 1), 0);
    EXPECT_EQ(read_record(record), 1u);
    EXPECT_EQ(open_probe(1, 1), 24);
    EXPECT_EQ(read_record(record), 1u);
    EXPECT_EQ(record, numbered_record(1));
}

TEST_F(NpapiMock, AnswersWithFixedIdentityAndStates) {
    using Version = std::pair<int, int>;
    Stderr_Capture err;
    std::uint8_t major = 9, minor = 9;
    function<API_Version>("getAPIVersion")(&major, &minor);
    EXPECT_EQ(Version(major, minor), Version(1, 0));
    major = minor = 9;
    EXPECT_EQ(function<Slot_Version>("getBSCVersion")(0, &major, &minor), 0);
    EXPECT_EQ(Version(major, minor), Version(1, 0));
    major = minor = 9;
    EXPECT_EQ(function<Port_Version>("getHSVersion")(0, 1, &major, &minor), 0);
    EXPECT_EQ(Version(major, minor), Version(1, 1));
    major = minor = 9;
    EXPECT_EQ(function<Port_Version>("getFlexVersion")(0, 1, &major, &minor), 0);
    EXPECT_EQ(Version(major, minor), Version(0, 0));

    std::uint64_t serial = 0;
    EXPECT_EQ(function<Port_Serial>("readHSSN")(0, 1, &serial), 0);
    EXPECT_EQ(serial, 1u);
    serial = 0;
    EXPECT_EQ(function<Slot_Serial>("readBSCSN")(0, &serial), 0);
    EXPECT_EQ(serial, 1u);

    std::size_t filled = 0, capacity = 0;
    EXPECT_EQ(function<Fifo_State>("getElectrodeDataFifoState")(0, 1, &filled, &capacity), 0);
    EXPECT_EQ(filled, 1u);
    EXPECT_EQ(capacity, 2u);

    EXPECT_EQ(function<Slot_Port_Call>("openProbeHSTest")(0, 1), 1);
    function<Set_Level>("np_dbg_setlevel")(3);
    EXPECT_EQ(err.take(), "");
}

TEST_F(NpapiMock, TextCopiesAreBoundedAndAlwaysTerminated) {
    struct Text_Case {
        std::string function;
        std::string text;
    };
    const std::vector<Text_Case> cases = {{"readProbePN", "PRB_1_4_0480_1"},
                                          {"readHSPN", "emulHSPN"},
                                          {"readFlexPN", "emulFlexPN"},
                                          {"readBSCPN", "emulBSCPN"}};
    for (const auto& [name, text] : cases) {
        const auto copy = [&](char* buffer, std::size_t size) {
            Stderr_Capture quiet;
            if (name == "readBSCPN")
                return function<Slot_Text>(name)(0, buffer, size);
            return function<Port_Text>(name)(0, 1, buffer, size);
        };
        for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{5}, text.size(),
                                       text.size() + 1, std::size_t{40}}) {
            std::array<char, 48> buffer;
            buffer.fill('#');
            EXPECT_EQ(copy(buffer.data(), size), 0) << name << " size " << size;
            const std::size_t kept = size == 0 ? 0 : std::min(text.size(), size - 1);
            if (size > 0) {
                EXPECT_EQ(std::string(buffer.data(), kept), text.substr(0, kept)) << name << " size " << size;
                EXPECT_EQ(buffer[kept], '\0') << name << " size " << size << ": unterminated";
            }
            // Nothing at or past the caller's size is touched.
            EXPECT_TRUE(std::all_of(buffer.begin() + size, buffer.end(), [](char c) { return c == '#'; }))
                << name << " size " << size;
        }
    }
}

TEST_F(NpapiMock, DoNothingFunctionsSucceedSilentlyAndLeaveOutputsUntouched) {
    const auto names = do_nothing_functions();
    ASSERT_EQ(names.size(), 81u);
    Stderr_Capture err;
    for (const auto& name : names) {
        int first = 11, second = 22;
        double value = 3.5;
        char text[8] = "unread";
        EXPECT_EQ(function<Any_Arguments>(name)(0, 1, &first, &second, &value, text, sizeof text), 0) << name;
        EXPECT_EQ(first, 11) << name;
        EXPECT_EQ(second, 22) << name;
        EXPECT_EQ(value, 3.5) << name;
        EXPECT_STREQ(text, "unread") << name;
    }
    EXPECT_EQ(err.take(), "");
}

TEST_F(NpapiMock, NonLoggingFunctionsWriteNothingToStandardError) {
    write_replay_file(1);
    ASSERT_EQ(open_probe(0, 1), 0);
    Stderr_Capture err;
    Record record{};
    read_record(record);
    read_record(record);
    char text[16];
    function<Port_Text>("readHSPN")(0, 1, text, sizeof text);
    function<Port_Text>("readFlexPN")(0, 1, text, sizeof text);
    function<Slot_Text>("readBSCPN")(0, text, sizeof text);
    EXPECT_EQ(err.take(), "");
}

TEST_F(NpapiMock, NullOutputsAreRefusedWithAMessageAndWriteNothing) {
    write_replay_file(1);
    ASSERT_EQ(open_probe(0, 1), 0);
    const auto refused_by = [](const std::string& text) {
        const auto lines = log_lines(text);
        return lines.empty() ? std::string("(no line)") : lines.back().function + ": " + lines.back().message;
    };
    Stderr_Capture err;

    EXPECT_EQ(function<Scan_PXI>("scanPXI")(nullptr), 1);
    EXPECT_EQ(refused_by(err.take()), "scanPXI: null output argument, nothing written");

    Stderr_Capture read_err;
    std::size_t count = 99;
    Record record = filled_record(0xAB);
    const auto read = function<Read_Electrode_Data>("readElectrodeData");
    EXPECT_EQ(read(0, 1, nullptr, &count, 1), 1);
    EXPECT_EQ(count, 99u);
    EXPECT_EQ(read(0, 1, record.data(), nullptr, 1), 1);
    EXPECT_EQ(record, filled_record(0xAB));
    EXPECT_EQ(refused_by(read_err.take()), "readElectrodeData: null output argument, nothing written");

    Stderr_Capture other_err;
    std::size_t filled = 5;
    std::uint8_t minor = 9;
    EXPECT_EQ(function<Fifo_State>("getElectrodeDataFifoState")(0, 1, &filled, nullptr), 1);
    EXPECT_EQ(filled, 5u);
    EXPECT_EQ(function<Port_Serial>("readHSSN")(0, 1, nullptr), 1);
    EXPECT_EQ(function<Slot_Serial>("readBSCSN")(0, nullptr), 1);
    function<API_Version>("getAPIVersion")(nullptr, &minor);
    EXPECT_EQ(function<Slot_Version>("getBSCVersion")(0, nullptr, &minor), 1);
    EXPECT_EQ(function<Port_Version>("getHSVersion")(0, 1, nullptr, &minor), 1);
    EXPECT_EQ(function<Port_Version>("getFlexVersion")(0, 1, &minor, nullptr), 1);
    EXPECT_EQ(minor, 9);
    EXPECT_EQ(function<Slot_Text>("readBSCPN")(0, nullptr, 8), 1);
    EXPECT_EQ(function<Slot_Text>("readBSCPN")(0, nullptr, 0), 0);
    const auto lines = log_lines(other_err.take());
    std::vector<std::string> refusing;
    for (const auto& line : lines) {
        EXPECT_EQ(line.message, "null output argument, nothing written");
        refusing.push_back(line.function);
    }
    EXPECT_EQ(refusing,
              (std::vector<std::string>{"getElectrodeDataFifoState", "readHSSN", "readBSCSN", "getAPIVersion",
                                        "getBSCVersion", "getHSVersion", "getFlexVersion", "readBSCPN"}));

    // The refused reads consumed nothing.
    EXPECT_EQ(read_record(record), 1u);
    EXPECT_EQ(record, numbered_record(0));
}

TEST_F(NpapiMock, AskingForNoRecordsDeliversNoneAndKeepsTheReplayPosition) {
    write_replay_file(1);
    ASSERT_EQ(open_probe(0, 1), 0);
    const auto read = function<Read_Electrode_Data>("readElectrodeData");
    Record record = filled_record(0xAB);
    std::size_t count = 99;
    EXPECT_EQ(read(0, 1, record.data(), &count, 0), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(record, filled_record(0xAB));
    count = 99;
    EXPECT_EQ(read(0, 1, nullptr, &count, 0), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(read_record(record), 1u);
    EXPECT_EQ(record, numbered_record(0));
}

TEST_F(NpapiMock, ReadsRacingWithReopensOnlyEverSeeWholeRecords) {
    write_replay_file(3);
    const auto open = function<Slot_Port_Call>("openProbe");
    const auto read = function<Read_Electrode_Data>("readElectrodeData");
    const std::vector<Record> replayed = {numbered_record(0), numbered_record(1), numbered_record(2)};
    // The reads start once the reopening has, so that the two always overlap.
    std::atomic<bool> reopening{false};
    std::atomic<bool> reading{true};
    int bad = 0;
    Stderr_Capture err;
    ASSERT_EQ(open(0, 1), 0);
    std::thread reopener([&] {
        reopening = true;
        for (int call = 0; call < 5000 && reading; ++call)
            open(0, 1);
    });
    while (!reopening)
        std::this_thread::yield();
    Record record;
    for (int call = 0; call < 300; ++call) {
        std::size_t count = 99;
        record.fill(0xAB);
        if (read(0, 1, record.data(), &count, 1) != 0 || count > 1)
            ++bad;
        else if (count == 1 && std::find(replayed.begin(), replayed.end(), record) == replayed.end())
            ++bad;
    }
    reading = false;
    reopener.join();
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(open_replay_files(), 1);
    // Anything but the openProbe lines, a sanitizer's race report above all, fails here.
    for (const auto& line : log_lines(err.take()))
        EXPECT_EQ(line.function, "openProbe");
}

} // namespace
} // namespace Selvan::MURA
