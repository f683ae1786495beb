// Where the Linux backends find the temporary directory and the screenshot
// program; the same for every Linux window system.
#pragma once

#include <string>

namespace halvic {

// TMPDIR when it is an absolute path, else /tmp.
std::string linuxTemporaryDirectory();

// halvic_screencapture in the directory of the running executable: both
// helpers and the screenshot program share one directory in the build tree
// and once installed.
std::string screenshotProgramBesideExecutable();

}  // namespace halvic
