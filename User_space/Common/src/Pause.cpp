#include "Pause.h"

#include <memory>
#include <mutex>
#include <thread>

namespace Selvan::MURA {
namespace {

std::mutex g_pause_mutex;
std::shared_ptr<const Pause_Function> g_pause_function;

std::shared_ptr<const Pause_Function> current_pause_function() {
    std::lock_guard lock(g_pause_mutex);
    return g_pause_function;
}

} // namespace

void pause_for(std::chrono::milliseconds duration) {
    if (auto replacement = current_pause_function()) {
        (*replacement)(duration);
        return;
    }
    std::this_thread::sleep_for(duration);
}

void set_pause_function(Pause_Function function) {
    std::lock_guard lock(g_pause_mutex);
    if (function)
        g_pause_function = std::make_shared<const Pause_Function>(std::move(function));
    else
        g_pause_function.reset();
}

} // namespace Selvan::MURA
