#pragma once

#include "I_L2_Demux_CH_Results.h"
#include "I_RHD_Frame_Listener.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace Selvan::MURA::demux::test_support {

// A worker that waits for the next frame when it is stopped reads the zero words pushed behind
// the stop flag and reports them as a lost preamble; whether it is already waiting depends on
// timing, so tests remove that report from the captured standard error.
inline std::string without_rhd_stop_report(std::string text) {
    // The RHD worker writes its lines on its own thread, so they may fall between any two lines
    // of the other threads; being its last words, they are the last of their kind.
    for (const std::string line : {"invalid RHD frame preamble \n", "Resync warning 1\n"}) {
        for (size_t at = text.rfind(line); at != std::string::npos;
             at = at == 0 ? std::string::npos : text.rfind(line, at - 1)) {
            if (at == 0 || text[at - 1] == '\n') {
                text.erase(at, line.size());
                break;
            }
        }
    }
    return text;
}

// Keeps copies of the RHD frames it receives on the worker thread.
class RHD_Frame_Recorder : public I_RHD_Frame_Listener {
public:
    void on_rhd_frame(const RHD_Frame& frame) override {
        {
            std::lock_guard lock(m_mutex);
            m_frames.push_back(frame);
        }
        m_changed.notify_all();
    }
    // Waits up to five seconds for `count` frames; false if they did not come.
    bool wait_for(size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(5), [&] { return m_frames.size() >= count; });
    }
    std::vector<RHD_Frame> frames() const {
        std::lock_guard lock(m_mutex);
        return m_frames;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<RHD_Frame> m_frames;
};

// Keeps copies of the channel blocks of one port.
class Channel_Block_Recorder : public I_L2_Demux_CH_Results {
public:
    void publish_ap_ch_data(Channel_Block& block) override {
        std::lock_guard lock(m_mutex);
        m_ap.push_back(block);
    }
    void publish_lp_ch_data(Channel_Block& block) override {
        std::lock_guard lock(m_mutex);
        m_lfp.push_back(block);
    }
    std::vector<Channel_Block> ap() const {
        std::lock_guard lock(m_mutex);
        return m_ap;
    }
    std::vector<Channel_Block> lfp() const {
        std::lock_guard lock(m_mutex);
        return m_lfp;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Channel_Block> m_ap;
    std::vector<Channel_Block> m_lfp;
};

} // namespace Selvan::MURA::demux::test_support
