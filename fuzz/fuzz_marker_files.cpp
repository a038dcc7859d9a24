// The marker files fed arbitrary contents: the first line is read from the file in the working
// directory and the init configuration taken from it. The line is the file's text up to the
// first newline, without the carriage return of a Windows line end, and the configuration is
// the number the line starts with or the fallback.

#include "Fuzz_Support.h"
#include "Marker_Files.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

using namespace Selvan::MURA;

constexpr int FALLBACK = -12345;

std::filesystem::path g_folder;

void remove_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(g_folder, ignored);
}

// What the line names: a base-10 integer after optional white space, the rest ignored.
int expected_config(const std::string& line) {
    const char* begin = line.c_str();
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE || value < INT_MIN || value > INT_MAX)
        return FALLBACK;
    return static_cast<int>(value);
}

} // namespace

// The marker is read from the working directory: each run works in a folder of its own.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::silence_diagnostics();
    g_folder = std::filesystem::temp_directory_path() / ("np3_fuzz_marker_" + std::to_string(getpid()));
    std::filesystem::create_directories(g_folder);
    std::filesystem::current_path(g_folder);
    std::atexit(remove_folder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream marker(api::INIT_MODE_MARKER, std::ios::binary | std::ios::trunc);
        marker.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const auto line = api::read_marker_file(api::INIT_MODE_MARKER);
    fuzzing::require(line.has_value(), "a present marker file reads as absent");
    std::string expected(reinterpret_cast<const char*>(data), size);
    expected = expected.substr(0, expected.find('\n'));
    if (!expected.empty() && expected.back() == '\r')
        expected.pop_back();
    fuzzing::require(*line == expected, "the first line differs from the file's text up to its line end");
    const int config = api::init_config_from_line(*line, FALLBACK);
    // A NUL ends what strtol sees, as it ends what the C library sees of the line.
    fuzzing::require(config == expected_config(*line),
                     "the init configuration differs from the line's number");
    return 0;
}
