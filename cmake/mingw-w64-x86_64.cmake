# Cross build for Windows x64 with Debian's mingw-w64 (the POSIX thread model, which the
# library's std::thread and std::mutex need).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NP3_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${NP3_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NP3_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${NP3_MINGW_TRIPLET}-windres)

# Only the mingw-w64 tree is searched for headers, libraries and packages: the Linux ones in
# /usr would be found first otherwise.
set(CMAKE_FIND_ROOT_PATH /usr/${NP3_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime, libgcc and winpthreads go into every DLL and program, so that np3_bridge.dll
# and npapi_mock.dll are single files a host can load without shipping the compiler's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
