#pragma once

#include <iostream>
#include <string_view>

#include <fmt/format.h>

// Plain diagnostic lines on standard output and standard error. Each line is written in one
// call so that lines of different threads do not interleave within a line.
namespace Selvan::MURA::console {

inline void out(std::string_view text) {
    std::cout << text;
}
inline void err(std::string_view text) {
    std::cerr << text;
}

template <class... Args>
void out(fmt::format_string<Args...> format, Args&&... args) {
    out(std::string_view(fmt::format(format, std::forward<Args>(args)...)));
}
template <class... Args>
void err(fmt::format_string<Args...> format, Args&&... args) {
    err(std::string_view(fmt::format(format, std::forward<Args>(args)...)));
}

} // namespace Selvan::MURA::console
