#pragma once

#include "Export.h"

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include <fmt/printf.h>

// Logging facade: named scopes opened at a verbosity, printf-style lines at INFO (0), detail
// verbosities 1..9, WARNING and ERROR. Every sink has its own verbosity limit; a line is
// formatted only when some sink admits it. Safe to use from any thread.
namespace Selvan::MURA::logging {

constexpr int Verbosity_ERROR = -2;
constexpr int Verbosity_WARNING = -1;
constexpr int Verbosity_INFO = 0;
constexpr int Verbosity_MAX = 9;

// Limit of the console sink (standard error); INFO by default.
MURA_EXPORT void set_console_verbosity(int verbosity);
MURA_EXPORT int console_verbosity();

// The highest verbosity any sink admits: lines above it are neither formatted nor written.
MURA_EXPORT int current_verbosity_cutoff();
inline bool is_enabled(int verbosity) {
    return verbosity <= current_verbosity_cutoff();
}

// Adds a log file, truncated on opening, that receives every line up to max_verbosity.
// Returns false (and logs why) when the file cannot be created. Adding the same path twice
// keeps one sink.
MURA_EXPORT bool add_file(const std::string& path, int max_verbosity = Verbosity_MAX);
MURA_EXPORT void remove_file(const std::string& path);

// Receives the undecorated text of every line up to max_verbosity; scope entries arrive as
// "{ name" and scope exits as "} name". Used by tests and by hosts that forward our lines.
using Callback = std::function<void(int verbosity, std::string_view text)>;
MURA_EXPORT void add_callback(const std::string& id, Callback callback, int max_verbosity);
MURA_EXPORT void remove_callback(const std::string& id);

// Writes one already formatted line to every sink that admits its verbosity.
MURA_EXPORT void write_line(int verbosity, std::string_view text);

// The text of the last ERROR line this thread wrote (empty before any): what a host's
// getLastErrorMessage shows after one of its calls failed.
MURA_EXPORT std::string last_error_of_this_thread();
// Makes `text` this thread's last error without writing a line (a failure that logs no ERROR).
MURA_EXPORT void set_last_error_of_this_thread(std::string text);

template <class... Args>
void log(int verbosity, const char* format, const Args&... args) {
    if (!is_enabled(verbosity))
        return;
    if constexpr (sizeof...(Args) == 0)
        write_line(verbosity, format);
    else
        write_line(verbosity, fmt::sprintf(format, args...));
}

template <class... Args>
void info(const char* format, const Args&... args) {
    log(Verbosity_INFO, format, args...);
}
template <class... Args>
void warning(const char* format, const Args&... args) {
    log(Verbosity_WARNING, format, args...);
}
template <class... Args>
void error(const char* format, const Args&... args) {
    log(Verbosity_ERROR, format, args...);
}

// A named scope: logs its entry at construction and its exit with the elapsed time at
// destruction, and indents the lines of this thread in between. A scope whose verbosity is
// not admitted when it opens stays silent for its whole life.
class MURA_EXPORT Log_Scope {
public:
    Log_Scope(int verbosity, std::string name);
    ~Log_Scope();
    Log_Scope(const Log_Scope&) = delete;
    Log_Scope& operator=(const Log_Scope&) = delete;

private:
    int m_verbosity;
    bool m_active;
    std::string m_name;
    std::chrono::steady_clock::time_point m_start;
};

} // namespace Selvan::MURA::logging

#define MURA_LOG_CONCAT_INNER(a, b) a##b
#define MURA_LOG_CONCAT(a, b) MURA_LOG_CONCAT_INNER(a, b)
#define MURA_LOG_SCOPE(verbosity, name)                                                                      \
    ::Selvan::MURA::logging::Log_Scope MURA_LOG_CONCAT(mura_log_scope_, __LINE__)(verbosity, name)
