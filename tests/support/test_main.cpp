#include "Log.h"

#include <gtest/gtest.h>

// The suites assert on log lines through callbacks and on standard error through captures, so
// the console sink of the logger stays quiet unless a run asks for it with --log-console.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    bool console = false;
    for (int i = 1; i < argc; ++i)
        console = console || std::string(argv[i]) == "--log-console";
    Selvan::MURA::logging::set_console_verbosity(console ? Selvan::MURA::logging::Verbosity_MAX : -3);
    return RUN_ALL_TESTS();
}
