#include "Stream_Read_Loop.h"

#include "Console.h"

#include <algorithm>
#include <stdexcept>

namespace Selvan::MURA {
namespace {

uint32_t report_stall(uint32_t issues, uint32_t done) {
    console::err("Read timeout.\n");
    console::out("{} read_issue_counter.\n", issues);
    return done;
}

} // namespace

uint32_t read_stream_into(uint8_t* buffer, uint32_t length, bool wait_for_full,
                          const Single_Stream_Read& read_once) {
    if (length == 0 || !buffer)
        return 0;
    uint32_t done = 0;
    uint32_t issues = 0;
    do {
        const Stream_Read_Result result = read_once(buffer + done, length - done);
        if (result.status == Stream_Read_Result::Status::failed) {
            console::err("ReadFile from device failed: {}", result.error_code);
            throw std::runtime_error("c2h transfer failed");
        }
        // A driver that claims more than was asked for cannot have written it into the buffer.
        done += std::min(result.bytes, length - done);
        ++issues;
        if (result.status == Stream_Read_Result::Status::timed_out)
            return report_stall(issues, done);
        if (!wait_for_full)
            break;
        if (issues > READ_ISSUE_LIMIT)
            return report_stall(issues, done);
    } while (done < length);
    if (issues > READ_ISSUE_REPORT_THRESHOLD)
        console::out("{} read_issue_counter.\n", issues);
    return done;
}

} // namespace Selvan::MURA
