# The GoogleTest main every suite shares, compiled once per build. It includes only the logging
# facade's header and is compiled without the DLL export marks, so it links with suites built
# on the static libraries as well as with suites that load np3_bridge.
function(np3_add_test_main)
  add_library(np3_test_main OBJECT ${PROJECT_SOURCE_DIR}/tests/support/test_main.cpp)
  target_include_directories(np3_test_main PRIVATE ${PROJECT_SOURCE_DIR}/User_space/Common/src)
  target_link_libraries(np3_test_main PRIVATE GTest::gtest fmt::fmt)
endfunction()

# Adds a GoogleTest executable. The whole executable is one CTest entry (starting a process per
# case costs more than the cases, above all under wine), unless PER_CASE asks for a process per
# case: the API suite needs that, because the adapter's state is process-wide.
# LABELS "threads" marks suites that the ThreadSanitizer run covers; RUN_SERIAL runs the suite
# alone (it needs the machine to keep up with a clock). LONG starts the suite before the short
# ones: a parallel run then does not end on one long suite with the other cores idle.
function(np3_add_test_executable name)
  cmake_parse_arguments(ARG "PER_CASE;RUN_SERIAL;LONG" "" "SOURCES;LIBRARIES;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} $<TARGET_OBJECTS:np3_test_main>)
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  if("threads" IN_LIST ARG_LABELS)
    set_property(GLOBAL APPEND PROPERTY NP3_THREADED_TEST_TARGETS ${name})
  endif()
  set(properties RUN_SERIAL ${ARG_RUN_SERIAL})
  if(ARG_LONG)
    list(APPEND properties COST 1000)
  endif()
  if(ARG_LABELS)
    list(APPEND properties LABELS "${ARG_LABELS}")
  endif()
  if(ARG_PER_CASE)
    gtest_discover_tests(${name}
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
      PROPERTIES ${properties}
      DISCOVERY_TIMEOUT 60)
  else()
    add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    set_tests_properties(${name} PROPERTIES ${properties})
  endif()
endfunction()

# Compiles `const char* <function>()`, returning <value> (generator expressions allowed), into
# <target> from a generated source of its own outside the unity build. A path of the build tree
# compiled into the target's other sources would make a clone at another path miss the compiler
# cache for all of them; this way only the one-line source misses.
function(np3_add_path_function target function value)
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${target}_${function}.cpp)
  file(GENERATE OUTPUT ${source} CONTENT "const char* ${function}() {\n    return \"${value}\";\n}\n")
  target_sources(${target} PRIVATE ${source})
  set_source_files_properties(${source} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
endfunction()
