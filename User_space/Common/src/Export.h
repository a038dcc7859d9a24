#pragma once

// Marks what np3_bridge exports: the Neuropixels API functions, the classes a host or a test
// may call below the API, and the test helpers. Everything else stays hidden in the shared
// library. On Windows the static libraries are compiled for the DLL, so their marked symbols
// become DLL exports; consumers rely on the linker's auto-import.
#if defined(_WIN32)
#if defined(NP3_BRIDGE_BUILD_DLL)
#define MURA_EXPORT __declspec(dllexport)
#else
#define MURA_EXPORT
#endif
#else
#define MURA_EXPORT __attribute__((visibility("default")))
#endif
