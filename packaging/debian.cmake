# The Debian package (`cpack -G DEB` in a build configured with CMAKE_INSTALL_PREFIX=/usr; scripts/package.sh):
# exactly what the install rules install, staged under DESTDIR with the prefix /usr, so that the paths the install
# works out (the GNOME extension's `callers`, KWin's authorisation file) are the installed ones.
set(HALVIC_PACKAGE_NAME halvic-desktop-helpers)
set(HALVIC_PACKAGE_MAINTAINER "halvic developers <packages@halvic.invalid>" CACHE STRING
    "The Debian package's Maintainer field")

# Debian's documentation folder: the copyright file, and the changelog every Debian package carries (compressed as
# Debian's tools do it: gzip -9n, no name or time in its header). The changelog names the package's version.
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${HALVIC_PACKAGE_NAME})
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^${HALVIC_PACKAGE_NAME} \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog must begin with an entry for ${HALVIC_PACKAGE_NAME} ${PROJECT_VERSION}")
endif()
add_custom_command(OUTPUT changelog.gz
  COMMAND gzip -9n -c ${CMAKE_CURRENT_LIST_DIR}/changelog > changelog.gz
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog VERBATIM)
add_custom_target(halvic_package_changelog ALL DEPENDS changelog.gz)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${HALVIC_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${HALVIC_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "helpers that tell an application about the user's desktop")
# The long description as Debian shows it: lines of at most 79 characters.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Two small programs that a host application starts by their paths in"
  "/usr/libexec/halvic to learn about the user's desktop. Each run prints one"
  "line of JSON and exits with status 0, whatever happened."
  ""
  "halvic_screen_helper finds the window the user works in and captures it as"
  "a PNG file, with its owner, title and bounds: on X11 with an EWMH window"
  "manager, on sway and compatible Wayland compositors, on GNOME Shell under"
  "Wayland (through the GNOME Shell extension desktop-helpers@halvic, which the"
  "package installs and the user enables), and on KDE Plasma under Wayland"
  "(which serves the captures to the package's screenshot program)."
  ""
  "halvic_calendar_helper reports the user's events of today, tomorrow, the"
  "week and other time windows from Evolution Data Server.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # <name>_<version>_<arch>.deb
# Depends from the libraries the executables load (dpkg-shlibdeps). They start no program but our own
# screenshot program, which the package carries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# CPack's DEB generator installs with the prefix /usr and DESTDIR=<its staging folder>, so the paths that the
# install step writes into files are the installed ones.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The screen tool falls back on the configured prefix where its own path is unknown: a build for another prefix
# would install under /usr with a wrong fallback, so cpack refuses it.
set(HALVIC_PACKAGE_PREFIX "${CMAKE_INSTALL_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/cpack_project.cmake.in cpack_project.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/cpack_project.cmake)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
