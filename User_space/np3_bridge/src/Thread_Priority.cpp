#include "Thread_Priority.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace Selvan::MURA::api {

#if defined(_WIN32)
Priority_Result raise_current_thread_priority() {
    if (SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL))
        return {true, 0};
    return {false, static_cast<int>(GetLastError())};
}
#else
// Linux schedules threads by their nice value; one step below the process's is the nearest
// to "above normal". Without the privilege to lower it the thread keeps its priority.
Priority_Result raise_current_thread_priority() {
    const auto thread_id = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, thread_id);
    if (current == -1 && errno != 0)
        return {false, errno};
    if (setpriority(PRIO_PROCESS, thread_id, current - 1) != 0)
        return {false, errno};
    return {true, 0};
}
#endif

} // namespace Selvan::MURA::api
