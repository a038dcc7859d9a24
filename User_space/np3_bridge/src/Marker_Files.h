#pragma once

#include <optional>
#include <string>

namespace Selvan::MURA::api {

// The marker files a host puts in its working directory: MURA_NPAPI_ADAPTER_SIM (simulation,
// its first line naming the recording) and MURA_NP_INIT_MODE (the probe init configuration).
constexpr const char* SIMULATION_MARKER = "MURA_NPAPI_ADAPTER_SIM";
constexpr const char* INIT_MODE_MARKER = "MURA_NP_INIT_MODE";

// The first line of a marker file in the working directory, announcing on standard output
// whether it is there. A Windows line end is removed with the newline.
std::optional<std::string> read_marker_file(const char* name);

// The init configuration a first line of MURA_NP_INIT_MODE names: a base-10 integer after
// optional blanks, anything after it ignored. Without a number (or out of range) the message
// goes to standard error and `fallback` is used.
int init_config_from_line(const std::string& line, int fallback);

} // namespace Selvan::MURA::api
