# GoogleTest for the macOS cross build: compiled and linked for the target from
# the build machine's sources (Debian's libgtest-dev ships them), as a part of
# this build, so the unit tests link as they do on a Mac.
set(HALVIC_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest's sources (Debian package libgtest-dev)")
if(NOT TARGET GTest::gtest_main)
  if(NOT EXISTS "${HALVIC_GTEST_SOURCE_DIR}/googletest/CMakeLists.txt")
    message(FATAL_ERROR "${HALVIC_GTEST_SOURCE_DIR} holds no GoogleTest sources (see scripts/apt-packages.txt)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # It defines GTest::gtest and GTest::gtest_main itself.
  add_subdirectory("${HALVIC_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
endif()
set(GTest_FOUND TRUE)
