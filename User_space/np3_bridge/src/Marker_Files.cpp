#include "Marker_Files.h"

#include "Console.h"

#include <fstream>
#include <stdexcept>

namespace Selvan::MURA::api {

std::optional<std::string> read_marker_file(const char* name) {
    std::ifstream file(name);
    if (!file) {
        console::out("{} not present in working directory\n", name);
        return std::nullopt;
    }
    console::out("{} file present in working directory\n", name);
    std::string line;
    std::getline(file, line);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

int init_config_from_line(const std::string& line, int fallback) {
    try {
        return std::stoi(line);
    } catch (const std::exception&) {
        console::err("Exception catched at init config integer conversion\n");
        return fallback;
    }
}

} // namespace Selvan::MURA::api
