#pragma once

#include "Export.h"

#include <filesystem>
#include <string_view>
#include <vector>

// Files that ship with the library (the default ADC calibration table, the simulation
// recordings of the self tests) are looked up, in this order:
//   1. the folder "np3_bridge_resources" beside the module that holds this code (the np3_bridge
//      shared library, or a program linking the static libraries);
//   2. share/np3_bridge beside the module's folder, where an installation into any prefix puts
//      them (<prefix>/lib/libnp3_bridge.so finds <prefix>/share/np3_bridge);
//   3. the data folder of the prefix the library was configured for, <prefix>/share/np3_bridge;
//   4. the resources folder of the build tree the library was built in.
namespace Selvan::MURA::resources {

constexpr std::string_view MODULE_RESOURCE_FOLDER = "np3_bridge_resources";

MURA_EXPORT std::vector<std::filesystem::path> search_folders();

// The folder of the module that holds this code (np3_bridge, or a program linking the static
// libraries); empty when it cannot be told.
MURA_EXPORT std::filesystem::path library_folder();

// The first existing candidate; the first candidate when none exists, so that an error
// message names a sensible place.
MURA_EXPORT std::filesystem::path find(std::string_view file_name);

} // namespace Selvan::MURA::resources
