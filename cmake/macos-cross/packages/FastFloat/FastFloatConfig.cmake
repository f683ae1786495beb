# fast_float for the macOS cross build: header-only (see host_headers.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/../host_headers.cmake)
halvic_host_header_target(FastFloat::fast_float fast_float)
set(FastFloat_FOUND TRUE)
