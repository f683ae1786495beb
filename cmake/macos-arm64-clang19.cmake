# Cross build of the macOS targets on a Linux machine: Debian's clang-19
# compiles for Apple silicon and macOS 26 against a macOS SDK, and the project
# configures as on a Mac (APPLE is true: the .mm backends, ARC, the AppKit and
# EventKit branches). Without the SDK's libSystem and libc++ nothing can be
# linked, so scripts/macos-cross.sh builds the objects and static libraries
# only.
#
#   cmake -S . -B build-macos -G Ninja --toolchain cmake/macos-arm64-clang19.cmake
#
# HALVIC_MACOS_SDK defaults to ../shared/macos-sdk beside the project; any
# macOS SDK works (an Xcode MacOSX.sdk included).
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(CMAKE_SYSTEM_VERSION 25.0)  # Darwin 25 is macOS 26

get_filename_component(_halvic_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
get_filename_component(_halvic_default_sdk "${_halvic_root}/../shared/macos-sdk" ABSOLUTE)
set(HALVIC_MACOS_SDK "${_halvic_default_sdk}" CACHE PATH "macOS SDK to compile against (a sysroot)")
if(NOT IS_DIRECTORY "${HALVIC_MACOS_SDK}/usr/include")
  message(FATAL_ERROR "HALVIC_MACOS_SDK (${HALVIC_MACOS_SDK}) is not a macOS SDK: it has no usr/include")
endif()
# try_compile projects read this file again and need the same SDK.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES HALVIC_MACOS_SDK)

set(CMAKE_OSX_SYSROOT "${HALVIC_MACOS_SDK}" CACHE PATH "" FORCE)
set(CMAKE_OSX_ARCHITECTURES arm64 CACHE STRING "macOS architectures")
set(CMAKE_OSX_DEPLOYMENT_TARGET 26.0 CACHE STRING "Minimum macOS version")

set(_halvic_triple arm64-apple-macos26.0)
foreach(lang C CXX OBJCXX)
  set(CMAKE_${lang}_COMPILER_TARGET ${_halvic_triple})
endforeach()
# Full paths: CMake looks the Objective-C++ compiler up again.
find_program(HALVIC_CLANG19 NAMES clang-19 REQUIRED NO_CMAKE_FIND_ROOT_PATH)
find_program(HALVIC_CLANGXX19 NAMES clang++-19 REQUIRED NO_CMAKE_FIND_ROOT_PATH)
set(CMAKE_C_COMPILER ${HALVIC_CLANG19})
set(CMAKE_CXX_COMPILER ${HALVIC_CLANGXX19})
set(CMAKE_OBJCXX_COMPILER ${HALVIC_CLANGXX19})
# LLVM's archiver writes the BSD archives Apple's linker reads; CMake insists
# on an install_name_tool for Darwin, though nothing is installed here.
find_program(CMAKE_AR NAMES llvm-ar-19 REQUIRED NO_CMAKE_FIND_ROOT_PATH)
find_program(CMAKE_RANLIB NAMES llvm-ranlib-19 REQUIRED NO_CMAKE_FIND_ROOT_PATH)
find_program(CMAKE_INSTALL_NAME_TOOL NAMES llvm-install-name-tool-19 REQUIRED NO_CMAKE_FIND_ROOT_PATH)
# Checks that would link an executable compile a static library instead.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# Headers and packages come from the SDK; programs (python3) from this machine.
set(CMAKE_FIND_ROOT_PATH "${HALVIC_MACOS_SDK}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GoogleTest and fast_float: the build machine's headers, which are portable
# (cmake/macos-cross/packages).
set(GTest_DIR "${CMAKE_CURRENT_LIST_DIR}/macos-cross/packages/GTest" CACHE PATH "")
set(FastFloat_DIR "${CMAKE_CURRENT_LIST_DIR}/macos-cross/packages/FastFloat" CACHE PATH "")

# EventKit: an SDK without it (the SDK copy has none) gets the declarations of
# what the calendar backend uses, found under the framework's header name
# <EventKit/EventKit.h>.
if(NOT EXISTS "${HALVIC_MACOS_SDK}/System/Library/Frameworks/EventKit.framework/Headers/EventKit.h")
  string(APPEND CMAKE_OBJCXX_FLAGS_INIT " -isystem ${CMAKE_CURRENT_LIST_DIR}/macos-cross/eventkit")
endif()
