#pragma once

#include "Log.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Selvan::MURA::test_support {

struct Captured_Line {
    int verbosity;
    std::string text;
    bool operator==(const Captured_Line&) const = default;
};

// Collects every log line up to max_verbosity while alive.
class Log_Capture {
public:
    explicit Log_Capture(int max_verbosity = logging::Verbosity_MAX)
        : m_id("log-capture-" + std::to_string(reinterpret_cast<uintptr_t>(this))) {
        logging::add_callback(
            m_id,
            [this](int verbosity, std::string_view text) {
                std::lock_guard lock(m_mutex);
                m_lines.push_back({verbosity, std::string(text)});
            },
            max_verbosity);
    }
    ~Log_Capture() { logging::remove_callback(m_id); }
    Log_Capture(const Log_Capture&) = delete;
    Log_Capture& operator=(const Log_Capture&) = delete;

    std::vector<Captured_Line> lines() const {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        for (const auto& line : lines())
            result.push_back(line.text);
        return result;
    }
    bool contains(const std::string& text) const { return count(text) > 0; }
    size_t count(const std::string& text) const {
        const auto all = texts();
        return static_cast<size_t>(std::count(all.begin(), all.end(), text));
    }
    size_t count_containing(const std::string& part) const {
        size_t n = 0;
        for (const auto& text : texts())
            n += text.find(part) != std::string::npos;
        return n;
    }
    // Waits (up to `timeout`) for a line that contains `part`.
    bool wait_for(const std::string& part,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (count_containing(part) == 0) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    bool contains(int verbosity, const std::string& text) const {
        const auto all = lines();
        return std::find(all.begin(), all.end(), Captured_Line{verbosity, text}) != all.end();
    }

private:
    std::string m_id;
    mutable std::mutex m_mutex;
    std::vector<Captured_Line> m_lines;
};

} // namespace Selvan::MURA::test_support
