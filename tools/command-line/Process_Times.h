#pragma once

// What the tools measure of their own process: processor time (the whole process's, or the
// calling thread's), in seconds, and the most memory the process held, in MiB.

namespace Selvan::MURA::tools {

double process_cpu_seconds();
double thread_cpu_seconds();
double peak_resident_mib();

} // namespace Selvan::MURA::tools
