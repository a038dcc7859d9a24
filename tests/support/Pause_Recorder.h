#pragma once

#include "Pause.h"

#include <chrono>
#include <mutex>
#include <vector>

namespace Selvan::MURA::test_support {

// Replaces every pause of the library by an instant one and records how long it would have been.
class Pause_Recorder {
public:
    Pause_Recorder() {
        set_pause_function([this](std::chrono::milliseconds duration) {
            std::lock_guard lock(m_mutex);
            m_pauses.push_back(duration);
        });
    }
    ~Pause_Recorder() { set_pause_function(nullptr); }
    Pause_Recorder(const Pause_Recorder&) = delete;
    Pause_Recorder& operator=(const Pause_Recorder&) = delete;

    std::vector<std::chrono::milliseconds> pauses() const {
        std::lock_guard lock(m_mutex);
        return m_pauses;
    }
    size_t count(std::chrono::milliseconds duration) const {
        size_t n = 0;
        for (auto pause : pauses())
            n += pause == duration;
        return n;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::chrono::milliseconds> m_pauses;
};

} // namespace Selvan::MURA::test_support
