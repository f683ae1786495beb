// What every Linux window system's desktop answers alike.
#pragma once

#include <string>

#include "desktop.h"
#include "linux_paths.h"

namespace halvic {

// The base of the Linux backends: they differ only in the window questions.
class LinuxDesktop : public Desktop {
 public:
  std::string temporaryDirectory() final { return linuxTemporaryDirectory(); }
  std::string screenshotProgramPath() final { return screenshotProgramBesideExecutable(); }
  bool screenCaptureAllowed() final { return true; }  // X11 and Wayland compositors ask no one
};

}  // namespace halvic
