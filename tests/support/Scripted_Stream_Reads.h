#pragma once

#include "Stream_Read_Loop.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <optional>
#include <vector>

namespace Selvan::MURA::test_support {

// Stands in for a stream driver: answers reads from a script, fills what each read delivers
// with a byte of its own (fill_of_call), and records the lengths asked for.
class Scripted_Stream_Reads {
public:
    Scripted_Stream_Reads& then_deliver(uint32_t bytes) { return then({Status::delivered, bytes, 0}); }
    Scripted_Stream_Reads& then_time_out(uint32_t bytes_before) {
        return then({Status::timed_out, bytes_before, 0});
    }
    Scripted_Stream_Reads& then_fail(long error_code) { return then({Status::failed, 0, error_code}); }
    // Once the script is used up every further read answers this way.
    Scripted_Stream_Reads& forever_deliver(uint32_t bytes) {
        m_forever = Stream_Read_Result{Status::delivered, bytes, 0};
        return *this;
    }

    Stream_Read_Result read(uint8_t* destination, uint32_t length) {
        m_requested.push_back(length);
        Stream_Read_Result answer = m_forever.value_or(Stream_Read_Result{Status::delivered, 0, 0});
        if (!m_script.empty()) {
            answer = m_script.front();
            m_script.pop_front();
        }
        std::memset(destination, fill_of_call(m_requested.size() - 1), std::min(answer.bytes, length));
        return answer;
    }

    Single_Stream_Read as_single_read() {
        return [this](uint8_t* destination, uint32_t length) { return read(destination, length); };
    }

    size_t calls() const { return m_requested.size(); }
    const std::vector<uint32_t>& requested_lengths() const { return m_requested; }
    static uint8_t fill_of_call(size_t call) { return static_cast<uint8_t>(0x10 + call); }

private:
    using Status = Stream_Read_Result::Status;
    Scripted_Stream_Reads& then(Stream_Read_Result answer) {
        m_script.push_back(answer);
        return *this;
    }

    std::deque<Stream_Read_Result> m_script;
    std::optional<Stream_Read_Result> m_forever;
    std::vector<uint32_t> m_requested;
};

} // namespace Selvan::MURA::test_support
