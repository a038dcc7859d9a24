#include "C_Virtual_Box.h"

#include "A_MURA_Controller.h"
#include "Log.h"
#include "Resources.h"
#include "Virtual_Box_Contract.h"

#include <mutex>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace Selvan::MURA {
namespace {

struct Module_Entry_Points {
    MURA_Virtual_Box_Create create = nullptr;
    MURA_Virtual_Box_Destroy destroy = nullptr;
    std::string error;
};

#if defined(_WIN32)
Module_Entry_Points load_module(const std::filesystem::path& path) {
    Module_Entry_Points entry;
    // Only the module's own folder and the system folder are searched for what it needs.
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr,
                                    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module) {
        entry.error = "cannot load " + path.string() + " (error " + std::to_string(GetLastError()) + ")";
        return entry;
    }
    entry.create = reinterpret_cast<MURA_Virtual_Box_Create>(
        reinterpret_cast<void*>(GetProcAddress(module, virtual_box::CREATE_SYMBOL)));
    entry.destroy = reinterpret_cast<MURA_Virtual_Box_Destroy>(
        reinterpret_cast<void*>(GetProcAddress(module, virtual_box::DESTROY_SYMBOL)));
    return entry;
}
#else
Module_Entry_Points load_module(const std::filesystem::path& path) {
    Module_Entry_Points entry;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* reason = dlerror();
        entry.error = "cannot load " + path.string() + " (" + (reason ? reason : "unknown error") + ")";
        return entry;
    }
    entry.create = reinterpret_cast<MURA_Virtual_Box_Create>(dlsym(module, virtual_box::CREATE_SYMBOL));
    entry.destroy = reinterpret_cast<MURA_Virtual_Box_Destroy>(dlsym(module, virtual_box::DESTROY_SYMBOL));
    return entry;
}
#endif

// Loaded once; a module that failed to load is tried again on the next request.
const Module_Entry_Points& module_entry_points() {
    static std::mutex mutex;
    static Module_Entry_Points entry;
    std::lock_guard lock(mutex);
    if (entry.create && entry.destroy)
        return entry;
    const std::filesystem::path folder = resources::library_folder();
    if (folder.empty()) {
        entry = {};
        entry.error = "the folder of np3_bridge cannot be found";
        return entry;
    }
    entry = load_module(folder / virtual_box::MODULE_FILE);
    if (entry.error.empty() && (!entry.create || !entry.destroy))
        entry.error = (folder / virtual_box::MODULE_FILE).string() + " is not the virtual box module";
    return entry;
}

} // namespace

std::shared_ptr<A_MURA_Controller> C_Virtual_Box::open_controller(const Options& options) {
    const Module_Entry_Points& entry = module_entry_points();
    if (!entry.error.empty()) {
        logging::error("The virtual box is not available: %s", entry.error);
        return nullptr;
    }
    const MURA_Virtual_Box_Options module_options{options.recording.c_str(), options.speed,
                                                  options.content.c_str(),   options.sync_hz,
                                                  options.sync_line,         options.faults.c_str()};
    char error[256] = {};
    A_MURA_Controller* controller = entry.create(&module_options, error, sizeof error);
    if (!controller) {
        logging::error("The virtual box could not be opened: %s", error);
        return nullptr;
    }
    const MURA_Virtual_Box_Destroy destroy = entry.destroy;
    return A_MURA_Controller::with_modules(
        std::shared_ptr<A_MURA_Controller>(controller, [destroy](A_MURA_Controller* c) { destroy(c); }));
}

} // namespace Selvan::MURA
