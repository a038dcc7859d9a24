#include "Thread_Name.h"

#include <cstring>
#include <string>

#if defined(__linux__)
#include <pthread.h>
#endif

namespace Selvan::MURA {

void name_this_thread(const char* name) {
#if defined(__linux__)
    std::string cut(name, strnlen(name, 15));
    pthread_setname_np(pthread_self(), cut.c_str());
#else
    (void)name;
#endif
}

} // namespace Selvan::MURA
