# Client code for a Wayland protocol, generated at build time from its XML
# with wayland-scanner: `halvic_wayland_protocol(<target> <xml>)` adds the
# generated glue to <target> and puts `<name>-client-protocol.h` (name = the
# XML file's name without .xml) on its include path.
find_package(PkgConfig REQUIRED)
pkg_check_modules(HALVIC_WAYLAND_CLIENT REQUIRED IMPORTED_TARGET wayland-client)
find_program(WAYLAND_SCANNER_EXECUTABLE wayland-scanner REQUIRED)

function(halvic_wayland_protocol target xml)
  get_filename_component(name "${xml}" NAME_WE)
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/wayland-protocols")
  set(header "${dir}/${name}-client-protocol.h")
  set(glue "${dir}/${name}-protocol.c")
  add_custom_command(
    OUTPUT "${header}" "${glue}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
    COMMAND ${WAYLAND_SCANNER_EXECUTABLE} client-header "${xml}" "${header}"
    COMMAND ${WAYLAND_SCANNER_EXECUTABLE} private-code "${xml}" "${glue}"
    DEPENDS "${xml}"
    VERBATIM)
  target_sources(${target} PRIVATE "${header}" "${glue}")
  target_include_directories(${target} PRIVATE "${dir}")
  target_link_libraries(${target} PRIVATE PkgConfig::HALVIC_WAYLAND_CLIENT)
endfunction()
