#include "C_Console_Redirect.h"

#include <fmt/format.h>

#include <iostream>
#include <stdexcept>

#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace Selvan::MURA::acquire {
namespace {

#if defined(_WIN32)
int duplicate(int fd) {
    return _dup(fd);
}
int duplicate_onto(int fd, int target) {
    return _dup2(fd, target);
}
int open_log(const std::filesystem::path& path) {
    return _wopen(path.wstring().c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0644);
}
void close_fd(int fd) {
    _close(fd);
}
bool is_terminal(int fd) {
    return _isatty(fd) != 0;
}
std::FILE* open_stream(int fd) {
    return _fdopen(fd, "w");
}
#else
int duplicate(int fd) {
    return ::dup(fd);
}
int duplicate_onto(int fd, int target) {
    return ::dup2(fd, target);
}
int open_log(const std::filesystem::path& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}
void close_fd(int fd) {
    ::close(fd);
}
bool is_terminal(int fd) {
    return ::isatty(fd) != 0;
}
std::FILE* open_stream(int fd) {
    return ::fdopen(fd, "w");
}
#endif

constexpr int STDOUT_FD = 1;
constexpr int STDERR_FD = 2;

} // namespace

C_Console_Redirect::C_Console_Redirect(const std::filesystem::path& log_file) {
    const int log = open_log(log_file);
    if (log < 0)
        throw std::runtime_error(fmt::format("cannot create {}", log_file.string()));
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    const int out = duplicate(STDOUT_FD);
    const int err = duplicate(STDERR_FD);
    if (out < 0 || err < 0 || duplicate_onto(log, STDOUT_FD) < 0 || duplicate_onto(log, STDERR_FD) < 0) {
        close_fd(log);
        throw std::runtime_error("cannot redirect the console into the log file");
    }
    close_fd(log);
    m_out_is_terminal = is_terminal(out);
    m_out = open_stream(out);
    m_err = open_stream(err);
    if (m_out == nullptr || m_err == nullptr)
        throw std::runtime_error("cannot keep the console's handles");
        // The library's lines reach the log as they are written, in order with its log lines on
        // standard error (unbuffered). The Windows C library has no line buffering.
#if defined(_WIN32)
    std::setvbuf(stdout, nullptr, _IONBF, 0);
#else
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
#endif
}

C_Console_Redirect::~C_Console_Redirect() {
    std::fflush(m_out);
    std::fflush(m_err);
}

} // namespace Selvan::MURA::acquire
