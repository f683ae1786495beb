# Portable headers from the build machine for the macOS cross build: each
# library's own folder is linked into one include directory of the build tree,
# so the compiler sees that folder and nothing else of the machine's
# /usr/include (whose C library headers would shadow the SDK's). Only
# header-only libraries come this way.
set(HALVIC_HOST_INCLUDE_DIR /usr/include CACHE PATH
  "Where the build machine keeps fast_float's headers")

# Defines the INTERFACE IMPORTED target `target` whose include directory holds
# only `folder` of HALVIC_HOST_INCLUDE_DIR.
function(halvic_host_header_target target folder)
  set(dir "${CMAKE_BINARY_DIR}/macos-cross-include")
  if(NOT IS_DIRECTORY "${HALVIC_HOST_INCLUDE_DIR}/${folder}")
    message(FATAL_ERROR "${HALVIC_HOST_INCLUDE_DIR}/${folder} is missing (see scripts/apt-packages.txt)")
  endif()
  file(MAKE_DIRECTORY "${dir}")
  file(CREATE_LINK "${HALVIC_HOST_INCLUDE_DIR}/${folder}" "${dir}/${folder}" SYMBOLIC)
  if(NOT TARGET ${target})
    add_library(${target} INTERFACE IMPORTED)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${dir}")
  endif()
endfunction()
