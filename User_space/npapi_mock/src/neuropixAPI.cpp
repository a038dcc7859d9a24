// npapi_mock: the flat function set of the older Neuropixels API, answered without hardware.
// Every call succeeds with fixed answers; electrode packets are replayed from
// "NP1_PXI_Formatted.bin" in the working directory, or are all zero when there is no such file.
//
// The exported names are plain C names, and some of them (close, init) are also names of the
// C library. Two rules keep the two apart:
// - the library never calls a C library function by a name it exports itself (the replay file
//   is handled through stdio, whose fclose does not go through the exported close), and its
//   own calls between exported functions go to internal functions, bound inside the library
//   by -Bsymbolic as well;
// - hosts on Linux load it with dlopen(RTLD_LOCAL), so that its names never enter the global
//   scope where they would take the place of the C library's close for every other module.

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

#if defined(_WIN32)
#define NPAPI_MOCK_EXPORT extern "C" __declspec(dllexport)
#else
#define NPAPI_MOCK_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

constexpr int SUCCESS = 0;
constexpr int FAILED = 1;
constexpr int WRONG_SLOT_OR_PORT = 24;

// One electrode packet of this API generation. The library never looks inside; it only moves
// whole records of this size.
struct electrodePacket {
    std::uint32_t timestamp[12];
    std::int16_t apData[12][384];
    std::int16_t lfpData[384];
    std::uint16_t Status[12];
};
static_assert(sizeof(electrodePacket) == 10056);

constexpr const char* REPLAY_FILE_NAME = "NP1_PXI_Formatted.bin";
constexpr std::uint8_t REPLAY_SLOT = 0;
constexpr std::int8_t REPLAY_PORT = 1;

#if defined(__FILE_NAME__)
constexpr const char* SOURCE_FILE = __FILE_NAME__;
#else
constexpr const char* SOURCE_FILE = "neuropixAPI.cpp";
#endif

// The replay handle is shared by every caller and replaced by openProbe, so a read on one
// thread must never meet a handle being closed on another.
std::mutex g_replay_mutex;
std::FILE* g_replay_file = nullptr;
// A record is read here first so that a trailing partial record never reaches the caller.
std::array<unsigned char, sizeof(electrodePacket)> g_staging_record;

// Closes the replay file when the library is unloaded, so that a host that loads and unloads
// the library repeatedly does not collect open files.
struct Replay_File_Closer {
    ~Replay_File_Closer() {
        if (g_replay_file != nullptr)
            std::fclose(g_replay_file);
        g_replay_file = nullptr;
    }
} g_replay_file_closer;

// Writes one line "<file>:<line>:<function>(): <message>\r\n" to standard error, formatted
// first and written with one stdio call, so lines of concurrent callers never interleave.
__attribute__((format(printf, 3, 4))) void log_line(int line, const char* function, const char* format, ...) {
    char message[160];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    std::fprintf(stderr, "%s:%d:%s(): %s\r\n", SOURCE_FILE, line, function, message);
}

#define NPAPI_MOCK_LOG(...) log_line(__LINE__, __func__, __VA_ARGS__)

// A caller that passes no place for an answer gets a failure and a line saying so, rather
// than a crash inside the host.
int refuse_null_output(int line, const char* function) {
    log_line(line, function, "null output argument, nothing written");
    return FAILED;
}

#define NPAPI_MOCK_REFUSE_NULL_OUTPUT() refuse_null_output(__LINE__, __func__)

// Copies as much of the text as fits and always terminates it: a short buffer yields a
// shortened text, never an unterminated one. A buffer of size 0 receives nothing.
void copy_text(const char* text, char* buffer, std::size_t size) {
    if (size == 0)
        return;
    const std::size_t length = std::min(std::strlen(text), size - 1);
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
}

int copy_text_output(const char* text, char* buffer, std::size_t size, int line, const char* function) {
    if (buffer == nullptr && size > 0)
        return refuse_null_output(line, function);
    copy_text(text, buffer, size);
    return SUCCESS;
}

// The body of close, shared with np_close without going through the exported name.
int close_port(std::uint8_t slotID, std::int8_t port) {
    log_line(__LINE__, "close", "slotID=%d, port=%d", static_cast<int>(slotID), static_cast<int>(port));
    return SUCCESS;
}

} // namespace

NPAPI_MOCK_EXPORT int scanPXI(std::uint32_t* count) {
    NPAPI_MOCK_LOG("scanPXI : %d", 0);
    if (count == nullptr)
        return NPAPI_MOCK_REFUSE_NULL_OUTPUT();
    *count = 0;
    return SUCCESS;
}

NPAPI_MOCK_EXPORT int openBS(std::uint8_t slotID) {
    NPAPI_MOCK_LOG("slotID=%d", static_cast<int>(slotID));
    return SUCCESS;
}

// Only slot 0, port 1 has a probe, and opening it (again) starts the replay from the beginning.
NPAPI_MOCK_EXPORT int openProbe(std::uint8_t slotID, std::int8_t port) {
    NPAPI_MOCK_LOG("slotID=%d, port=%d", static_cast<int>(slotID), static_cast<int>(port));
    if (slotID != REPLAY_SLOT || port != REPLAY_PORT)
        return WRONG_SLOT_OR_PORT;
    const std::lock_guard lock(g_replay_mutex);
    if (g_replay_file != nullptr)
        std::fclose(g_replay_file);
    // A missing file leaves the handle null and the reads serve zero records.
    g_replay_file = std::fopen(REPLAY_FILE_NAME, "rb");
    return SUCCESS;
}

NPAPI_MOCK_EXPORT int init(std::uint8_t slotID, std::int8_t port) {
    NPAPI_MOCK_LOG("slotID=%d, port=%d", static_cast<int>(slotID), static_cast<int>(port));
    return SUCCESS;
}

NPAPI_MOCK_EXPORT int close(std::uint8_t slotID, std::int8_t port) {
    return close_port(slotID, port);
}

NPAPI_MOCK_EXPORT int np_close(std::uint8_t slotID, std::int8_t port) {
    NPAPI_MOCK_LOG("slotID=%d, port=%d", static_cast<int>(slotID), static_cast<int>(port));
    return close_port(slotID, port);
}

// Delivers one record per call whatever the caller asks for, except that a caller asking for
// none gets none: its buffer may have no room for a record. At the end of the replay file, and
// for a trailing partial record, it reports 0 records and leaves the buffer alone.
NPAPI_MOCK_EXPORT int readElectrodeData(std::uint8_t /*slotID*/, std::int8_t /*port*/,
                                        electrodePacket* packets, std::size_t* actualAmount,
                                        std::size_t requestedAmount) {
    if (actualAmount == nullptr || (packets == nullptr && requestedAmount > 0))
        return NPAPI_MOCK_REFUSE_NULL_OUTPUT();
    if (requestedAmount == 0) {
        *actualAmount = 0;
        return SUCCESS;
    }
    const std::lock_guard lock(g_replay_mutex);
    if (g_replay_file == nullptr) {
        std::memset(packets, 0, sizeof(electrodePacket));
        *actualAmount = 1;
        return SUCCESS;
    }
    const std::size_t records =
        std::fread(g_staging_record.data(), g_staging_record.size(), 1, g_replay_file);
    if (records == 1)
        std::memcpy(packets, g_staging_record.data(), g_staging_record.size());
    *actualAmount = records;
    return SUCCESS;
}

NPAPI_MOCK_EXPORT int getElectrodeDataFifoState(std::uint8_t /*slotID*/, std::int8_t /*port*/,
                                                std::size_t* packetsAvailable, std::size_t* headroom) {
    if (packetsAvailable == nullptr || headroom == nullptr)
        return NPAPI_MOCK_REFUSE_NULL_OUTPUT();
    *packetsAvailable = 1;
    *headroom = 2;
    return SUCCESS;
}

NPAPI_MOCK_EXPORT int readProbePN(std::uint8_t slotID, std::int8_t /*port*/, char* pn, std::size_t len) {
    NPAPI_MOCK_LOG("slotID=%d", static_cast<int>(slotID));
    return copy_text_output("PRB_1_4_0480_1", pn, len, __LINE__, __func__);
}

NPAPI_MOCK_EXPORT int readHSPN(std::uint8_t /*slotID*/, std::int8_t /*port*/, char* pn, std::size_t len) {
    return copy_text_output("emulHSPN", pn, len, __LINE__, __func__);
}

NPAPI_MOCK_EXPORT int readFlexPN(std::uint8_t /*slotID*/, std::int8_t /*port*/, char* pn, std::size_t len) {
    return copy_text_output("emulFlexPN", pn, len, __LINE__, __func__);
}

NPAPI_MOCK_EXPORT int readBSCPN(std::uint8_t /*slotID*/, char* pn, std::size_t len) {
    return copy_text_output("emulBSCPN", pn, len, __LINE__, __func__);
}

NPAPI_MOCK_EXPORT int readHSSN(std::uint8_t /*slotID*/, std::int8_t /*port*/, std::uint64_t* sn) {
    if (sn == nullptr)
        return NPAPI_MOCK_REFUSE_NULL_OUTPUT();
    *sn = 1;
    return SUCCESS;
}

NPAPI_MOCK_EXPORT int readBSCSN(std::uint8_t /*slotID*/, std::uint64_t* sn) {
    if (sn == nullptr)
        return NPAPI_MOCK_REFUSE_NULL_OUTPUT();
    *sn = 1;
    return SUCCESS;
}

namespace {

int store_version(std::uint8_t* version_major, std::uint8_t* version_minor, std::uint8_t major,
                  std::uint8_t minor, int line, const char* function) {
    if (version_major == nullptr || version_minor == nullptr)
        return refuse_null_output(line, function);
    *version_major = major;
    *version_minor = minor;
    return SUCCESS;
}

} // namespace

// Has no result to report a refused null output with; the line on standard error says it.
NPAPI_MOCK_EXPORT void getAPIVersion(std::uint8_t* version_major, std::uint8_t* version_minor) {
    store_version(version_major, version_minor, 1, 0, __LINE__, __func__);
}

NPAPI_MOCK_EXPORT int getBSCVersion(std::uint8_t /*slotID*/, std::uint8_t* version_major,
                                    std::uint8_t* version_minor) {
    return store_version(version_major, version_minor, 1, 0, __LINE__, __func__);
}

NPAPI_MOCK_EXPORT int getHSVersion(std::uint8_t /*slotID*/, std::int8_t /*port*/, std::uint8_t* version_major,
                                   std::uint8_t* version_minor) {
    return store_version(version_major, version_minor, 1, 1, __LINE__, __func__);
}

NPAPI_MOCK_EXPORT int getFlexVersion(std::uint8_t /*slotID*/, std::int8_t /*port*/,
                                     std::uint8_t* version_major, std::uint8_t* version_minor) {
    return store_version(version_major, version_minor, 0, 0, __LINE__, __func__);
}

NPAPI_MOCK_EXPORT int openProbeHSTest(std::uint8_t /*slotID*/, std::int8_t /*port*/) {
    return FAILED;
}

// There is no verbosity: the logging functions always write their line.
NPAPI_MOCK_EXPORT void np_dbg_setlevel(int /*level*/) {}

// The remaining calls accept whatever the host passes and do nothing. They are defined without
// parameters: with the platform's calling convention the caller owns its arguments, so any
// argument list is safe, and nothing is ever written through the host's pointers.
#define NPAPI_MOCK_DOES_NOTHING(name)                                                                        \
    NPAPI_MOCK_EXPORT int name() {                                                                           \
        return SUCCESS;                                                                                      \
    }

NPAPI_MOCK_DOES_NOTHING(selectElectrode)
NPAPI_MOCK_DOES_NOTHING(setGain)
NPAPI_MOCK_DOES_NOTHING(setReference)
NPAPI_MOCK_DOES_NOTHING(setAPCornerFrequency)
NPAPI_MOCK_DOES_NOTHING(HSTestI2C)
NPAPI_MOCK_DOES_NOTHING(HSTestMCLK)
NPAPI_MOCK_DOES_NOTHING(HSTestNRST)
NPAPI_MOCK_DOES_NOTHING(HSTestOscillator)
NPAPI_MOCK_DOES_NOTHING(HSTestPCLK)
NPAPI_MOCK_DOES_NOTHING(HSTestPSB)
NPAPI_MOCK_DOES_NOTHING(HSTestREC_NRESET)
NPAPI_MOCK_DOES_NOTHING(HSTestVDDA1V2)
NPAPI_MOCK_DOES_NOTHING(HSTestVDDA1V8)
NPAPI_MOCK_DOES_NOTHING(HSTestVDDD1V2)
NPAPI_MOCK_DOES_NOTHING(HSTestVDDD1V8)
NPAPI_MOCK_DOES_NOTHING(arm)
NPAPI_MOCK_DOES_NOTHING(bistBS)
NPAPI_MOCK_DOES_NOTHING(bistEEPROM)
NPAPI_MOCK_DOES_NOTHING(bistHB)
NPAPI_MOCK_DOES_NOTHING(bistI2CMM)
NPAPI_MOCK_DOES_NOTHING(bistNoise)
NPAPI_MOCK_DOES_NOTHING(bistPSB)
NPAPI_MOCK_DOES_NOTHING(bistSR)
NPAPI_MOCK_DOES_NOTHING(bistSignal)
NPAPI_MOCK_DOES_NOTHING(bistStartPRBS)
NPAPI_MOCK_DOES_NOTHING(bistStopPRBS)
NPAPI_MOCK_DOES_NOTHING(bs_update)
NPAPI_MOCK_DOES_NOTHING(qbsc_update)
NPAPI_MOCK_DOES_NOTHING(closeBS)
NPAPI_MOCK_DOES_NOTHING(enableFileStream)
NPAPI_MOCK_DOES_NOTHING(setFileStream)
NPAPI_MOCK_DOES_NOTHING(getADCparams)
NPAPI_MOCK_DOES_NOTHING(setADCparams)
NPAPI_MOCK_DOES_NOTHING(getBSBootVersion)
NPAPI_MOCK_DOES_NOTHING(getBSCBootVersion)
NPAPI_MOCK_DOES_NOTHING(getBSCTemperature)
NPAPI_MOCK_DOES_NOTHING(getBSTemperature)
NPAPI_MOCK_DOES_NOTHING(getDataMode)
NPAPI_MOCK_DOES_NOTHING(setDataMode)
NPAPI_MOCK_DOES_NOTHING(getGain)
NPAPI_MOCK_DOES_NOTHING(getParameter)
NPAPI_MOCK_DOES_NOTHING(getParameter_double)
NPAPI_MOCK_DOES_NOTHING(setParameter)
NPAPI_MOCK_DOES_NOTHING(setParameter_double)
NPAPI_MOCK_DOES_NOTHING(getTriggerBinding)
NPAPI_MOCK_DOES_NOTHING(getTriggerInput)
NPAPI_MOCK_DOES_NOTHING(getTriggerOutput)
NPAPI_MOCK_DOES_NOTHING(setTriggerBinding)
NPAPI_MOCK_DOES_NOTHING(setTriggerEdge)
NPAPI_MOCK_DOES_NOTHING(setTriggerInput)
NPAPI_MOCK_DOES_NOTHING(setTriggerOutput)
NPAPI_MOCK_DOES_NOTHING(openEmulationProbe)
NPAPI_MOCK_DOES_NOTHING(readADCFifo)
NPAPI_MOCK_DOES_NOTHING(readAPFifo)
NPAPI_MOCK_DOES_NOTHING(readLFPFifo)
NPAPI_MOCK_DOES_NOTHING(readBSCMM)
NPAPI_MOCK_DOES_NOTHING(writeBSCMM)
NPAPI_MOCK_DOES_NOTHING(readI2C)
NPAPI_MOCK_DOES_NOTHING(writeI2C)
NPAPI_MOCK_DOES_NOTHING(readId)
NPAPI_MOCK_DOES_NOTHING(writeId)
NPAPI_MOCK_DOES_NOTHING(setADCCalibration)
NPAPI_MOCK_DOES_NOTHING(setGainCalibration)
NPAPI_MOCK_DOES_NOTHING(setBSCVersion)
NPAPI_MOCK_DOES_NOTHING(setFlexVersion)
NPAPI_MOCK_DOES_NOTHING(setHSVersion)
NPAPI_MOCK_DOES_NOTHING(setHSLed)
NPAPI_MOCK_DOES_NOTHING(setLog)
NPAPI_MOCK_DOES_NOTHING(setOPMODE)
NPAPI_MOCK_DOES_NOTHING(setCALMODE)
NPAPI_MOCK_DOES_NOTHING(setREC_NRESET)
NPAPI_MOCK_DOES_NOTHING(setStdb)
NPAPI_MOCK_DOES_NOTHING(setSWTrigger)
NPAPI_MOCK_DOES_NOTHING(setTestSignal)
NPAPI_MOCK_DOES_NOTHING(writeBSCPN)
NPAPI_MOCK_DOES_NOTHING(writeBSCSN)
NPAPI_MOCK_DOES_NOTHING(writeFlexPN)
NPAPI_MOCK_DOES_NOTHING(writeHSPN)
NPAPI_MOCK_DOES_NOTHING(writeHSSN)
NPAPI_MOCK_DOES_NOTHING(writeProbePN)
NPAPI_MOCK_DOES_NOTHING(writeProbeConfiguration)
