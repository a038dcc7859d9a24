#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <stdlib.h>
#include <unistd.h>

namespace Selvan::MURA::test_support {

// Captures what the code under test writes to a standard stream by pointing the file
// descriptor at a scratch file. Captures nest: an inner one restores the outer one's file.
// Destroy them in reverse order of creation.
class Fd_Capture {
public:
    explicit Fd_Capture(int fd)
        : m_fd(fd)
        , m_test_parts_before(test_part_count()) {
        flush_all();
        char name[] = "/tmp/np3_capture_XXXXXX";
        m_file_fd = ::mkstemp(name);
        m_path = name;
        m_saved_fd = ::dup(m_fd);
        ::dup2(m_file_fd, m_fd);
    }
    ~Fd_Capture() { take(); }
    Fd_Capture(const Fd_Capture&) = delete;
    Fd_Capture& operator=(const Fd_Capture&) = delete;

    // Stops capturing and returns what was written; later calls return the same text.
    std::string take() {
        if (m_saved_fd >= 0) {
            flush_all();
            ::dup2(m_saved_fd, m_fd);
            ::close(m_saved_fd);
            ::close(m_file_fd);
            m_saved_fd = -1;
            std::ifstream in(m_path, std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            m_text = text.str();
            ::unlink(m_path.c_str());
            echo_if_an_assertion_failed_meanwhile();
        }
        return m_text;
    }

private:
    // GoogleTest prints a failed assertion to stdout (and records it as a part of the test's
    // result): one that fails while stdout is captured would leave the log without the reason,
    // so the captured text is echoed.
    void echo_if_an_assertion_failed_meanwhile() const {
        if (test_part_count() > m_test_parts_before && !m_text.empty())
            (void)!::write(m_fd, m_text.data(), m_text.size());
    }

    static int test_part_count() {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        return test == nullptr ? 0 : test->result()->total_part_count();
    }

    static void flush_all() {
        std::cout.flush();
        std::cerr.flush();
        std::fflush(nullptr);
    }

    int m_fd;
    int m_test_parts_before;
    int m_file_fd = -1;
    int m_saved_fd = -1;
    std::string m_path;
    std::string m_text;
};

class Stdout_Capture : public Fd_Capture {
public:
    Stdout_Capture()
        : Fd_Capture(STDOUT_FILENO) {}
};

class Stderr_Capture : public Fd_Capture {
public:
    Stderr_Capture()
        : Fd_Capture(STDERR_FILENO) {}
};

} // namespace Selvan::MURA::test_support
