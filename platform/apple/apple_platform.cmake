# The macOS build of `corvane`: the C++ adapter (apple_platform.cc) over the Swift bridge
# (foundation_models_bridge.swift). FoundationModels is linked weakly, so the program also starts
# on macOS 14 and 15, where it reports that macOS 26 is needed. Included from the top-level
# CMakeLists.txt on Apple systems only; nothing Swift is enabled anywhere else.

# CMake compiles Swift with these generators only; any other fails inside enable_language().
if(NOT CMAKE_GENERATOR MATCHES "^(Ninja|Ninja Multi-Config|Xcode)$")
  message(FATAL_ERROR "The macOS build of corvane needs the Ninja or the Xcode generator.")
endif()

# Under Ninja, swiftc takes architecture and minimum system from its target triple. Setting it
# here does not depend on CMake deriving it from CMAKE_OSX_DEPLOYMENT_TARGET; Xcode derives it
# from its own build settings.
if(NOT CMAKE_GENERATOR STREQUAL "Xcode")
  set(CMAKE_Swift_COMPILER_TARGET arm64-apple-macos${CMAKE_OSX_DEPLOYMENT_TARGET})
endif()
enable_language(Swift)

# The project's warning options are C and C++ ones, which swiftc rejects. They also reach swiftc
# when it links `corvane`, so they are limited to C and C++ for every target made from here on.
get_property(corvane_directory_options DIRECTORY PROPERTY COMPILE_OPTIONS)
set(corvane_c_family_options)
foreach(option IN LISTS corvane_directory_options)
  list(APPEND corvane_c_family_options "$<$<COMPILE_LANGUAGE:C,CXX>:${option}>")
endforeach()
set_property(DIRECTORY PROPERTY COMPILE_OPTIONS ${corvane_c_family_options})

add_library(corvane_foundation_models_bridge STATIC
            ${CMAKE_CURRENT_LIST_DIR}/foundation_models_bridge.swift)
set_target_properties(corvane_foundation_models_bridge PROPERTIES
  # Swift 6 mode turns data-race and non-exhaustive-switch mistakes into build errors.
  Swift_LANGUAGE_VERSION 6
  Swift_MODULE_NAME CorvaneFoundationModelsBridge)
target_compile_options(corvane_foundation_models_bridge PRIVATE
  # A module of one file would otherwise get a main of its own, next to the one in src/main.cc.
  -parse-as-library
  # Keeps swiftc from recording a (strong) link to the framework in the object file; the weak
  # link below is then the only one.
  "SHELL:-Xfrontend -disable-autolink-framework -Xfrontend FoundationModels")

add_library(corvane_platform_apple STATIC
            ${CMAKE_CURRENT_LIST_DIR}/apple_platform.cc
            ${CMAKE_CURRENT_LIST_DIR}/apple_default_platform.cc)
target_include_directories(corvane_platform_apple PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(corvane_platform_apple PUBLIC
                      corvane_platform_posix corvane_foundation_models_bridge)
# The framework does not exist before macOS 26: a weak load command lets the program start
# without it (its symbols are then null and never reached, being behind #available).
target_link_options(corvane_platform_apple INTERFACE "LINKER:-weak_framework,FoundationModels")
