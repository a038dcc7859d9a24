#include "Resources.h"

#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

// The build tree's resource folder, compiled apart (see np3_add_path_function).
const char* np3_build_resource_dir();

namespace Selvan::MURA::resources {

std::filesystem::path library_folder() {
#if defined(_WIN32)
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&library_folder), &module))
        return {};
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return std::filesystem::path(path).parent_path();
#else
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&library_folder), &info) == 0 || info.dli_fname == nullptr)
        return {};
    std::error_code error;
    const auto path = std::filesystem::canonical(info.dli_fname, error);
    return error ? std::filesystem::path() : path.parent_path();
#endif
}

std::vector<std::filesystem::path> search_folders() {
    std::vector<std::filesystem::path> folders;
    if (const auto folder = library_folder(); !folder.empty()) {
        folders.push_back(folder / MODULE_RESOURCE_FOLDER);
        folders.push_back(folder.parent_path() / "share" / "np3_bridge");
    }
    folders.emplace_back(NP3_INSTALL_RESOURCE_DIR);
    folders.emplace_back(np3_build_resource_dir());
    return folders;
}

std::filesystem::path find(std::string_view file_name) {
    const auto folders = search_folders();
    for (const auto& folder : folders) {
        std::error_code error;
        if (std::filesystem::is_regular_file(folder / file_name, error))
            return folder / file_name;
    }
    return folders.front() / file_name;
}

} // namespace Selvan::MURA::resources
