// The seam between the screen tool's logic and the window system.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "loose_value.h"

namespace halvic {

struct FrontmostApplication {
  std::int32_t processIdentifier = 0;
  std::optional<std::string> localizedName;  // absent when the platform gives none
};

// What the screen tool asks of the window system. Every call asks afresh;
// nothing is cached. Calls come from the tool's single thread.
class Desktop {
 public:
  virtual ~Desktop() = default;

  // The application that owns the focus, or nullopt when there is none (or no
  // display).
  virtual std::optional<FrontmostApplication> frontmostApplication() = 0;

  // The windows now on screen, frontmost first, desktop elements left out, each
  // as the platform reports it (normally a window record, a LooseMap). nullopt
  // when the list cannot be had. Text in the records is valid UTF-8.
  virtual std::optional<std::vector<LooseValue>> windowList() = 0;

  // The user's temporary directory, where the PNG is written.
  virtual std::string temporaryDirectory() = 0;

  // Whether this process may capture other applications' windows. The run
  // asks before it starts the screenshot program: where the system withholds
  // that right, the program may still exit 0 with a picture of the wallpaper.
  virtual bool screenCaptureAllowed() = 0;

  // When the desktop shows this process none of the user's windows until the
  // user enables something (a GNOME Shell without our extension): what to do,
  // in words for the user. A run that then finds no window reports a refused
  // permission with this text, not the absence of a window. Empty when the
  // desktop withholds nothing.
  virtual std::string withheldWindowsDetail() { return {}; }

  // Absolute path of the screenshot program that takes
  // `-x -o -l <window> <path>`.
  virtual std::string screenshotProgramPath() = 0;
};

// The platform's desktop; defined by the backend file CMake picks.
std::unique_ptr<Desktop> makeSystemDesktop();

}  // namespace halvic
