# The tests, included from the top-level CMakeLists.txt when CORVANE_BUILD_TESTS is on. Every test
# carries ctest labels, and the presets, scripts and CI choose tests by label, never by name:
#
#   unit         a unit test: one process, nothing of the project started
#   process      a row of tests/data/process_cases.json run on one executable
#   threads      runs the generation thread (the chat unit tests and every process row): what the
#                ThreadSanitizer build runs
#   needs-linux  skips itself elsewhere (its row's "linuxOnly" says why)
#   tsan-unsafe  cannot run under ThreadSanitizer: a file-size limit ends its run-time, which
#                writes a file of its own at start
#   large        hundreds of megabytes or a million items, which take ThreadSanitizer minutes
#   swift        needs the Swift toolchain
#   check        holds a checked-in file to what it is made from
#   fuzz         a fuzz target on its seed corpus and a few thousand inputs more (fuzz/)

# GoogleTest: Debian's archives are compiled against libstdc++, so a build against another C++
# library (the `libcxx` preset) compiles it from its sources with its own options.
set(CORVANE_GTEST_SOURCE_DIR "" CACHE PATH "GoogleTest's sources, to compile with this build's options")
if(CORVANE_GTEST_SOURCE_DIR)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${CORVANE_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Its warnings are its maintainers' to mend.
  set_target_properties(gtest gtest_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
  # GoogleTest names its targets GTest::gtest and GTest::gtest_main itself from 1.11 on.
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# What the tests that start executables share: starting one and collecting its streams, a small
# filesystem to fill, and where the executables and the test data are.
add_library(corvane_test_support STATIC tests/support/process.cc tests/support/small_filesystem.cc)
target_include_directories(corvane_test_support PUBLIC ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(corvane_test_support PRIVATE corvane_warnings)
target_compile_definitions(corvane_test_support PUBLIC
  CORVANE_BIN="$<TARGET_FILE:corvane>"
  CORVANE_SIM_BIN="$<TARGET_FILE:corvane-sim>"
  CORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
if(CORVANE_APPLE_SIM)
  target_compile_definitions(corvane_test_support PUBLIC
    CORVANE_APPLE_SIM_BIN="$<TARGET_FILE:corvane-apple-sim>")
endif()

# A GoogleTest executable whose tests all carry `labels`. Its tests are listed once it is built;
# ctest then reads that list (the variable <name>_TESTS) and a file of this build's own that gives
# them their labels (gtest_discover_tests' PROPERTIES cannot carry a list).
function(corvane_gtest name labels)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE corvane_warnings corvane_core corvane_platform_posix
                        corvane_sim_model corvane_test_support GTest::gtest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES)
  set(include ${PROJECT_BINARY_DIR}/${name}_labels.cmake)
  file(WRITE ${include} "if(${name}_TESTS)\n"
                        "  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS [==[${labels}]==])\n"
                        "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include})
endfunction()

# The unit tests, beside their units. The macOS adapter is plain C++: tested on every system
# against a fake of the Swift bridge.
corvane_gtest(corvane_unit_tests unit
              src/answer_stream_test.cc
              src/chat_request_test.cc
              src/prompt_test.cc
              src/text_test.cc
              platform/apple/apple_platform.cc
              platform/apple/apple_platform_test.cc
              platform/posix/standard_streams_test.cc
              platform/posix/whole_line_write_test.cc
              platform/sim/sim_settings_test.cc
              tests/swift_characters_test.cc)
target_include_directories(corvane_unit_tests PRIVATE ${PROJECT_SOURCE_DIR}/platform/apple)
target_link_libraries(corvane_unit_tests PRIVATE GTest::gtest_main)

# The chat, with the generation thread and its hand-over.
corvane_gtest(corvane_chat_tests "unit;threads" src/chat_test.cc)
target_link_libraries(corvane_chat_tests PRIVATE GTest::gtest_main)

# The process tests: every row of the table on every executable it names. Their labels depend on
# the row, so the executable lists them (--corvane_labels) once it is built, and ctest reads that
# list after the tests themselves (tests/process_labels.cmake).
corvane_gtest(corvane_process_tests "process;threads" tests/process_test.cc)
add_dependencies(corvane_process_tests corvane corvane-sim)
if(CORVANE_APPLE_SIM)
  add_dependencies(corvane_process_tests corvane-apple-sim)
endif()
# The rows are read when the binary is built, so a changed table rebuilds the binary.
set_source_files_properties(tests/process_test.cc PROPERTIES
  OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/tests/data/process_cases.json)
set(corvane_process_labels ${PROJECT_BINARY_DIR}/process_test_labels.txt)
add_custom_command(TARGET corvane_process_tests POST_BUILD
  COMMAND corvane_process_tests --corvane_labels=${corvane_process_labels}
  VERBATIM)
set(corvane_process_labels_include ${PROJECT_BINARY_DIR}/process_test_labels.cmake)
file(WRITE ${corvane_process_labels_include}
     "set(corvane_process_labels [==[${corvane_process_labels}]==])\n"
     "include([==[${PROJECT_SOURCE_DIR}/tests/process_labels.cmake]==])\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${corvane_process_labels_include})

# src/text_tables.h is what scripts/generate_text_tables.py makes of the project's Unicode data.
add_test(NAME text_tables_up_to_date
         COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/scripts/generate_text_tables.py --check)
set_tests_properties(text_tables_up_to_date PROPERTIES LABELS check)

if(CORVANE_APPLE_SIM)
  # Linux does not enforce the framework's availability: the bridge type-checked for an Apple
  # target, as a Mac would compile it for macOS 14.
  add_test(NAME BridgeAvailability
           COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/scripts/check-bridge-availability.py
                   ${CORVANE_SWIFTC})
  set_tests_properties(BridgeAvailability PROPERTIES LABELS "swift;check")
endif()

# Swift's String, which the character counts must equal, wherever a Swift toolchain is found: a
# small Swift program prints its counts and cuts for the unit tests to compare with.
if(CORVANE_SWIFTC)
  set(corvane_swift_characters ${PROJECT_BINARY_DIR}/swift_characters_reference)
  set(corvane_swift_sdk)
  if(APPLE AND CMAKE_OSX_SYSROOT)
    set(corvane_swift_sdk -sdk ${CMAKE_OSX_SYSROOT})
  endif()
  add_custom_command(
    OUTPUT ${corvane_swift_characters}
    COMMAND ${CORVANE_SWIFTC} -O ${corvane_swift_sdk} ${PROJECT_SOURCE_DIR}/tests/swift/swift_characters.swift
            -o ${corvane_swift_characters}
    DEPENDS ${PROJECT_SOURCE_DIR}/tests/swift/swift_characters.swift
    COMMENT "Building the Swift String reference of the character tests")
  add_custom_target(corvane_swift_characters DEPENDS ${corvane_swift_characters})
  add_dependencies(corvane_unit_tests corvane_swift_characters)
  target_compile_definitions(corvane_unit_tests PRIVATE
    CORVANE_SWIFT_CHARACTERS_BIN="${corvane_swift_characters}")
endif()
