# GoogleTest for the macOS cross build: its headers only (see host_headers.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/../host_headers.cmake)
halvic_host_header_target(GTest::gtest gtest)
halvic_host_header_target(GTest::gtest_main gtest)
set(GTest_FOUND TRUE)
