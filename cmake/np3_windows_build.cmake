# The Windows cross build's dependencies and run-time layout.
#
# spdlog, fmt, CLI11 and readerwriterqueue come from Debian's headers: fmt compiled here once,
# the others header-only. The compiler sees a folder that holds only these (links made here), never
# /usr/include, whose Linux system headers would shadow mingw-w64's. GoogleTest is built from
# Debian's sources.

set(NP3_HOST_INCLUDE_DIR /usr/include CACHE PATH "Where the header-only dependencies' headers are")
set(NP3_HOST_GOOGLETEST_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")

set(np3_cross_include ${CMAKE_BINARY_DIR}/cross-include)
file(MAKE_DIRECTORY ${np3_cross_include})
foreach(folder spdlog fmt CLI readerwriterqueue)
  if(NOT EXISTS ${NP3_HOST_INCLUDE_DIR}/${folder})
    message(FATAL_ERROR "${NP3_HOST_INCLUDE_DIR}/${folder} is missing: install libspdlog-dev, libfmt-dev, libcli11-dev and libreaderwriterqueue-dev")
  endif()
  file(CREATE_LINK ${NP3_HOST_INCLUDE_DIR}/${folder} ${np3_cross_include}/${folder} SYMBOLIC)
endforeach()

# fmt compiled once (see windows/fmt_compiled.cpp); spdlog, used by one unit, stays header-only.
add_library(np3_fmt STATIC ${CMAKE_CURRENT_LIST_DIR}/windows/fmt_compiled.cpp)
target_include_directories(np3_fmt SYSTEM PUBLIC ${np3_cross_include})
set_target_properties(np3_fmt PROPERTIES UNITY_BUILD OFF)
add_library(np3::fmt ALIAS np3_fmt)
add_library(fmt::fmt ALIAS np3_fmt)

add_library(np3_spdlog_header_only INTERFACE)
target_compile_definitions(np3_spdlog_header_only INTERFACE SPDLOG_HEADER_ONLY SPDLOG_FMT_EXTERNAL)
target_link_libraries(np3_spdlog_header_only INTERFACE np3_fmt)
add_library(np3::spdlog ALIAS np3_spdlog_header_only)

add_library(np3_cli11 INTERFACE)
target_include_directories(np3_cli11 SYSTEM INTERFACE ${np3_cross_include})
add_library(CLI11::CLI11 ALIAS np3_cli11)

add_library(np3_readerwriterqueue INTERFACE)
target_include_directories(np3_readerwriterqueue SYSTEM INTERFACE ${np3_cross_include})
add_library(np3::readerwriterqueue ALIAS np3_readerwriterqueue)

# Programs and DLLs share one folder, so that every test program finds np3_bridge.dll beside
# it, and the files the library ships lie in np3_bridge_resources beside them, as in an
# installation.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(NP3_BUILD_RESOURCE_DIR "${CMAKE_BINARY_DIR}/bin/np3_bridge_resources" CACHE INTERNAL "")

# Programs built here run under wine: at build time (test discovery, the recordings of the
# self tests) and as tests. The wrapper keeps wine quiet and uses a prefix of its own.
if(CMAKE_CROSSCOMPILING)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
    @ONLY)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
endif()

# The box model is linked beside np3_bridge's import library and calls into it; GNU ld reads
# archives once, in order, so the libraries of a program are searched as one group.
foreach(lang C CXX)
  string(REPLACE "<LINK_LIBRARIES>" "-Wl,--start-group <LINK_LIBRARIES> -Wl,--end-group"
    CMAKE_${lang}_LINK_EXECUTABLE "${CMAKE_${lang}_LINK_EXECUTABLE}")
endforeach()

macro(np3_add_googletest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${NP3_HOST_GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endmacro()
