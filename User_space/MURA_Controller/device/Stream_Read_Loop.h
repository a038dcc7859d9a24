#pragma once

#include "Export.h"

#include <cstdint>
#include <functional>

// The read loop both device classes run on the card-to-host stream: it keeps reading into the
// prepared buffer until it is full (or after one read when the caller does not wait), and it
// never waits for ever on a stalled stream.
namespace Selvan::MURA {

// What one read of the stream came to.
struct Stream_Read_Result {
    enum class Status { delivered, timed_out, failed };
    Status status = Status::delivered;
    uint32_t bytes = 0;  // delivered by this read (also by one that timed out part-way)
    long error_code = 0; // the system's error code of a failed read
};

// One read of at most `length` bytes into `destination`, waiting at most the time limit.
using Single_Stream_Read = std::function<Stream_Read_Result(uint8_t* destination, uint32_t length)>;

// A stream that keeps answering with nothing ends the loop after this many reads.
constexpr uint32_t READ_ISSUE_LIMIT = 100000;
// A fill that took more reads than this is reported with its read count.
constexpr uint32_t READ_ISSUE_REPORT_THRESHOLD = 50;
// How long one read may wait when the caller prepared no time limit of its own.
constexpr uint32_t DEFAULT_READ_TIME_LIMIT_MS = 1000;

// The time limit of one read: the prepared one, or the default for 0.
constexpr uint32_t read_time_limit_ms(uint32_t prepared_timeout_ms) {
    return prepared_timeout_ms == 0 ? DEFAULT_READ_TIME_LIMIT_MS : prepared_timeout_ms;
}

// Fills `buffer` with `length` bytes (one read only when `wait_for_full` is false) and returns
// the number of bytes delivered. A length of 0 or no buffer reads nothing. A read that timed
// out, or the issue limit, ends the loop with "Read timeout." and the bytes read so far; a
// failed read throws std::runtime_error("c2h transfer failed") after its message, leaving what
// was read in the buffer.
MURA_EXPORT uint32_t read_stream_into(uint8_t* buffer, uint32_t length, bool wait_for_full,
                                      const Single_Stream_Read& read_once);

} // namespace Selvan::MURA
