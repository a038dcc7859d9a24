#pragma once

#include "Export.h"

#include <chrono>
#include <functional>

// Every deliberate wait of the library (PLL lock polls, the FPGA reboot, ICAP and UART polls)
// goes through pause_for, so that tests can replace real time by a recorded, instant pause and
// still check how long the library meant to wait.
namespace Selvan::MURA {

using Pause_Function = std::function<void(std::chrono::milliseconds)>;

MURA_EXPORT void pause_for(std::chrono::milliseconds duration);

// Replaces the pause for the whole process; an empty function restores real sleeping.
// Set it only while no library thread is running.
MURA_EXPORT void set_pause_function(Pause_Function function);

} // namespace Selvan::MURA
