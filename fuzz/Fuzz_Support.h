#pragma once

#include "Log.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>

// Shared by the fuzz targets.
namespace Selvan::MURA::fuzzing {

// Discards everything written to it.
class Null_Buffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

// The code under test reports every oddity it meets on standard output, standard error and the
// log, and fuzz inputs are nothing but oddities: printed, those lines would cost more time than
// the parsing. Sanitizer and libFuzzer reports do not go through these streams.
inline void silence_diagnostics() {
    static Null_Buffer sink;
    std::cout.rdbuf(&sink);
    std::cerr.rdbuf(&sink);
    logging::set_console_verbosity(logging::Verbosity_ERROR - 1);
}

// A property of the code under test does not hold: libFuzzer keeps the input as a crash.
[[noreturn]] inline void finding(const char* what) {
    std::fprintf(stderr, "fuzz finding: %s\n", what);
    std::abort();
}

inline void require(bool holds, const char* what) {
    if (!holds)
        finding(what);
}

} // namespace Selvan::MURA::fuzzing
