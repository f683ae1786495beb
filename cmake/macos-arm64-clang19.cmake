# Cross build of the macOS targets on a Linux machine: Debian's clang-19
# compiles for Apple silicon and macOS 26 against a macOS SDK, LLVM's Mach-O
# linker (ld64.lld-19) links against the SDK's .tbd stubs and signs the arm64
# executables ad hoc, and the project configures as on a Mac (APPLE is true:
# the .mm backends, ARC, the AppKit and EventKit branches).
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

# An SDK copied without its symbolic links (../shared/macos-sdk) is used
# through a view in the build tree that has them (cmake/macos-cross/sdk_view.py);
# any other SDK as it is.
if(NOT DEFINED HALVIC_MACOS_SYSROOT)
  find_program(HALVIC_PYTHON3 NAMES python3 REQUIRED NO_CMAKE_FIND_ROOT_PATH)
  execute_process(
    COMMAND "${HALVIC_PYTHON3}" "${CMAKE_CURRENT_LIST_DIR}/macos-cross/sdk_view.py"
            "${HALVIC_MACOS_SDK}" "${CMAKE_BINARY_DIR}/macos-sdk"
    OUTPUT_VARIABLE HALVIC_MACOS_SYSROOT COMMAND_ERROR_IS_FATAL ANY)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES HALVIC_MACOS_SYSROOT)
set(CMAKE_OSX_SYSROOT "${HALVIC_MACOS_SYSROOT}" CACHE PATH "" FORCE)
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
# LLVM's archiver writes the BSD archives Apple's linker reads; CMake wants an
# install_name_tool for Darwin (it has no rpath to change in our executables).
find_program(CMAKE_AR NAMES llvm-ar-19 REQUIRED NO_CMAKE_FIND_ROOT_PATH)
find_program(CMAKE_RANLIB NAMES llvm-ranlib-19 REQUIRED NO_CMAKE_FIND_ROOT_PATH)
find_program(CMAKE_INSTALL_NAME_TOOL NAMES llvm-install-name-tool-19 REQUIRED NO_CMAKE_FIND_ROOT_PATH)
# clang's Darwin driver runs ld64.lld for -fuse-ld=lld (Debian's lld-19 puts it
# beside clang-19); it links against the SDK's .tbd stubs and signs arm64
# output ad hoc, as Apple silicon requires.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT -fuse-ld=lld)
endforeach()
# The unit tests cannot run here: ctest lists each executable's tests when it
# runs them (on a Mac), not after the link.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# Headers and packages come from the SDK; programs (python3) from this machine.
set(CMAKE_FIND_ROOT_PATH "${HALVIC_MACOS_SDK}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GoogleTest, built for the target from the build machine's sources, and
# fast_float, the build machine's portable headers (cmake/macos-cross/packages).
set(GTest_DIR "${CMAKE_CURRENT_LIST_DIR}/macos-cross/packages/GTest" CACHE PATH "")
set(FastFloat_DIR "${CMAKE_CURRENT_LIST_DIR}/macos-cross/packages/FastFloat" CACHE PATH "")

# EventKit: an SDK without its headers (the SDK copy has its link stub only)
# gets the declarations of what the calendar backend uses, found under the
# framework's header name <EventKit/EventKit.h>.
if(NOT EXISTS "${HALVIC_MACOS_SDK}/System/Library/Frameworks/EventKit.framework/Headers/EventKit.h")
  string(APPEND CMAKE_OBJCXX_FLAGS_INIT " -isystem ${CMAKE_CURRENT_LIST_DIR}/macos-cross/eventkit")
endif()
