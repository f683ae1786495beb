# Run by `cmake --install` (see ../CMakeLists.txt): writes the .desktop file
# through which KWin lets the installed screenshot program use its screenshot
# interface. KWin compares the first word of Exec with the caller's
# executable, so Exec must be the program's final absolute path: it is worked
# out here, at install time, from the prefix in force then (`--prefix`
# counts), and never holds DESTDIR, the staging root a package is built in.
#
# Expects HALVIC_EXECDIR (absolute, or relative to the prefix), HALVIC_DATADIR
# (likewise) and HALVIC_STAGING (a folder of the build tree to write into).
if(IS_ABSOLUTE "${HALVIC_EXECDIR}")
  set(program "${HALVIC_EXECDIR}/halvic_screencapture")
else()
  set(program "${CMAKE_INSTALL_PREFIX}/${HALVIC_EXECDIR}/halvic_screencapture")
endif()
cmake_path(NORMAL_PATH program)
# KWin reads Exec through KDE's own parser, which takes a path with blanks
# and shell characters in double quotes but reads escapes otherwise than the
# desktop entry specification: a path that would need one is refused here
# rather than written in a form KWin misreads.
if(program MATCHES "[\n\r%\"`$\\]")
  message(FATAL_ERROR "A .desktop file for KWin cannot name ${program}: "
                      "install to a path without line breaks, %, \", `, $ or \\")
endif()
set(exec "${program}")
if(exec MATCHES "[] \t'<>~|&;*?#()[]")
  set(exec "\"${exec}\"")
endif()

file(MAKE_DIRECTORY "${HALVIC_STAGING}")
file(WRITE "${HALVIC_STAGING}/halvic-screencapture.desktop" "[Desktop Entry]
Type=Application
Name=halvic screenshot program
Comment=Captures the window the halvic screen helper chose
Exec=${exec}
NoDisplay=true
X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2
")
if(IS_ABSOLUTE "${HALVIC_DATADIR}")
  set(applications "${HALVIC_DATADIR}/applications")
else()
  set(applications "${CMAKE_INSTALL_PREFIX}/${HALVIC_DATADIR}/applications")
endif()
# file(INSTALL) adds DESTDIR and records the file in install_manifest.txt.
file(INSTALL DESTINATION "${applications}" TYPE FILE FILES "${HALVIC_STAGING}/halvic-screencapture.desktop")
