# The macOS platform of `corvane`: the C++ adapter (apple_platform.cc) over the Swift bridge
# (foundation_models_bridge.swift). On macOS the bridge is linked to the system's FoundationModels,
# weakly, so the program also starts on macOS 14 and 15, where it reports that macOS 26 is needed.
#
# On Linux, when swiftc is there, the same adapter and the same bridge are built against a stand-in
# of the framework (standin/), whose model is corvane-sim's: `corvane-apple-sim`. Everything but
# the framework and the version test is then the macOS road, compiled and run.
#
# Included from the top-level CMakeLists.txt; nothing Swift is enabled anywhere else.

# CMake compiles Swift with these generators only; any other fails inside enable_language().
if(NOT CMAKE_GENERATOR MATCHES "^(Ninja|Ninja Multi-Config|Xcode)$")
  message(FATAL_ERROR "The macOS platform of corvane needs the Ninja or the Xcode generator.")
endif()

# Under Ninja, swiftc takes architecture and minimum system from its target triple. Setting it
# here does not depend on CMake deriving it from CMAKE_OSX_DEPLOYMENT_TARGET; Xcode derives it
# from its own build settings.
if(APPLE AND NOT CMAKE_GENERATOR STREQUAL "Xcode")
  set(CMAKE_Swift_COMPILER_TARGET arm64-apple-macos${CMAKE_OSX_DEPLOYMENT_TARGET})
endif()
enable_language(Swift)

# The Swift the bridge is written and checked with: Swift 6.3 (Xcode 26.5 or later on a Mac). It
# implements its C header with `@implementation @_cdecl`, which Swift 6.3 accepts without any
# experimental flag; no earlier compiler is checked against the bridge.
set(corvane_minimum_swift 6.3)
if(CMAKE_Swift_COMPILER_VERSION VERSION_LESS corvane_minimum_swift)
  message(FATAL_ERROR "corvane's macOS platform needs Swift ${corvane_minimum_swift} or later (Xcode 26.5 or later); ${CMAKE_Swift_COMPILER} is Swift ${CMAKE_Swift_COMPILER_VERSION}.")
endif()

set(corvane_apple_dir ${CMAKE_CURRENT_LIST_DIR})

# A Swift module of one or more files, in Swift 6 mode, which turns data-race and
# non-exhaustive-switch mistakes into build errors.
function(corvane_swift_library name module)
  add_library(${name} STATIC ${ARGN})
  set_target_properties(${name} PROPERTIES
    Swift_LANGUAGE_VERSION 6
    Swift_MODULE_NAME ${module}
    Swift_MODULE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/swift/${name})
  # A module of one file would otherwise get a main of its own, next to the one in src/main.cc.
  # The C headers Swift imports as modules are compiled into a cache of this build's own, which is
  # rebuilt whenever one of them changes (a cache shared by every build on the machine was seen to
  # keep a header's old version).
  target_compile_options(${name} PRIVATE -parse-as-library
                         "SHELL:-module-cache-path ${CMAKE_CURRENT_BINARY_DIR}/swift/module-cache")
endfunction()

if(APPLE)
  corvane_swift_library(corvane_foundation_models_bridge CorvaneFoundationModelsBridge
                        ${corvane_apple_dir}/foundation_models_bridge.swift
                        ${corvane_apple_dir}/os_version.swift)
  # Keeps swiftc from recording a (strong) link to the framework in the object file; the weak link
  # below is then the only one.
  target_compile_options(corvane_foundation_models_bridge PRIVATE
    "SHELL:-Xfrontend -disable-autolink-framework -Xfrontend FoundationModels")
else()
  # The stand-in framework, built twice from one source, with library evolution as the system's
  # frameworks are: the interface the bridge compiles against declares what the SDK declares; the
  # library it runs against is that of a later system, with an unavailable reason more.
  set(corvane_standin_dir ${corvane_apple_dir}/standin)
  corvane_swift_library(corvane_foundation_models_interface FoundationModels
                        ${corvane_standin_dir}/FoundationModels.swift)
  corvane_swift_library(corvane_foundation_models_standin FoundationModels
                        ${corvane_standin_dir}/FoundationModels.swift)
  foreach(standin corvane_foundation_models_interface corvane_foundation_models_standin)
    target_compile_options(${standin} PRIVATE -enable-library-evolution)
    target_include_directories(${standin} PRIVATE ${corvane_standin_dir}/standin_model)
  endforeach()
  target_compile_definitions(corvane_foundation_models_standin PRIVATE CORVANE_SIM_LATER_SYSTEM)

  # The stand-in's model and version test: corvane-sim's model, through a C face for Swift.
  add_library(corvane_standin_model STATIC ${corvane_standin_dir}/standin_model.cc)
  target_include_directories(corvane_standin_model PRIVATE ${corvane_apple_dir})
  target_link_libraries(corvane_standin_model PUBLIC corvane_sim_model PRIVATE corvane_warnings)
  target_link_libraries(corvane_foundation_models_standin PUBLIC corvane_standin_model)

  corvane_swift_library(corvane_foundation_models_bridge CorvaneFoundationModelsBridge
                        ${corvane_apple_dir}/foundation_models_bridge.swift)
  # Against the interface only: not linked to it, so its module is the only FoundationModels the
  # bridge can see.
  add_dependencies(corvane_foundation_models_bridge corvane_foundation_models_interface)
  target_compile_options(corvane_foundation_models_bridge PRIVATE
    "SHELL:-I ${CMAKE_CURRENT_BINARY_DIR}/swift/corvane_foundation_models_interface"
    "SHELL:-I ${corvane_standin_dir}/standin_model")
endif()
# Every warning of the bridge is an error, on the Mac as against the stand-in. The bridge implements
# foundation_models_bridge.h, which it imports as a Clang module (module.modulemap beside it).
target_compile_options(corvane_foundation_models_bridge PRIVATE -warnings-as-errors
                       "SHELL:-I ${corvane_apple_dir}")

add_library(corvane_platform_apple STATIC
            ${corvane_apple_dir}/apple_platform.cc
            ${corvane_apple_dir}/apple_default_platform.cc)
target_include_directories(corvane_platform_apple PUBLIC ${corvane_apple_dir})
# A C++ archive. Without this, CMake would make it with swiftc (Swift's linker preference
# propagates from the bridge), which cannot archive C++ objects alone.
set_target_properties(corvane_platform_apple PROPERTIES LINKER_LANGUAGE CXX)
target_link_libraries(corvane_platform_apple PUBLIC
                      corvane_platform_posix corvane_foundation_models_bridge
                      PRIVATE corvane_warnings)
if(APPLE)
  # The framework does not exist before macOS 26: a weak load command lets the program start
  # without it (its symbols are then null and never reached, being behind #available).
  target_link_options(corvane_platform_apple INTERFACE "LINKER:-weak_framework,FoundationModels")
else()
  target_link_libraries(corvane_platform_apple PUBLIC corvane_foundation_models_standin)
endif()

# An executable on this platform: linked by swiftc, which adds the Swift run-time (on Linux as shared
# libraries, so not -static like the other executables).
function(corvane_apple_executable name)
  target_sources(${name} PRIVATE ${corvane_apple_dir}/swift_link_anchor.swift)
  if(NOT APPLE)
    # Compiled into the executable rather than archived, so that its initializer is always linked.
    target_sources(${name} PRIVATE ${corvane_apple_dir}/standin/default_crash_signals.cc)
  endif()
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:Swift>:-parse-as-library>)
  if(CORVANE_LIBCXX AND NOT APPLE)
    # swiftc links the Swift run-time, which on Linux brings libstdc++; the C++ objects here need
    # libc++. It is linked in whole: its names live in std::__1 and never meet libstdc++'s, and its
    # ABI library then unwinds with the one unwinder the process already has (libgcc_s) instead of
    # bringing LLVM's second one. The ABI entry points (exceptions, type information) that both
    # libraries define are the Itanium C++ ABI in either, so whichever the loader binds is sound.
    target_link_options(${name} PRIVATE
                        "SHELL:-Xlinker -Bstatic -Xlinker -lc++ -Xlinker -lc++abi -Xlinker -Bdynamic")
  endif()
endfunction()
