#pragma once

#include <cstdio>
#include <filesystem>

namespace Selvan::MURA::acquire {

// Sends everything the process writes to standard output and standard error from now on (the
// library's console lines, its log lines, its diagnostics) into a log file, and keeps handles
// on the original two for the tool's own output. The redirection is at the level of the
// process's file descriptors, so it also catches writes that bypass the C++ streams; it
// stays in force until the process ends, because the library may write until then.
class C_Console_Redirect {
public:
    // Throws when the log file cannot be created.
    explicit C_Console_Redirect(const std::filesystem::path& log_file);
    C_Console_Redirect(const C_Console_Redirect&) = delete;
    C_Console_Redirect& operator=(const C_Console_Redirect&) = delete;
    ~C_Console_Redirect();

    // Where standard output and standard error went before.
    std::FILE* terminal_out() const { return m_out; }
    std::FILE* terminal_err() const { return m_err; }
    // Whether the original standard output is a terminal (a status line can be redrawn).
    bool out_is_terminal() const { return m_out_is_terminal; }

private:
    std::FILE* m_out = nullptr;
    std::FILE* m_err = nullptr;
    bool m_out_is_terminal = false;
};

} // namespace Selvan::MURA::acquire
