#pragma once

// Raises the calling thread above normal priority, the one platform call the adapter makes
// outside the device layer: the main pump thread must not lose the device stream to the host's
// own threads.
namespace Selvan::MURA::api {

struct Priority_Result {
    bool raised;
    int error_code; // the system's error code when not raised
};

Priority_Result raise_current_thread_priority();

} // namespace Selvan::MURA::api
