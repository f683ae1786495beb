// The Linux desktop: the one place that picks the window system at run time.
#include <chrono>
#include <cstdlib>

#include "bounded_desktop.h"
#include "desktop.h"
#include "linux_paths.h"
#include "sway/desktop_sway.h"
#include "sway/sway_ipc.h"
#include "window_system.h"
#include "x11/desktop_x11.h"

namespace halvic {
namespace {

// A frozen compositor costs the run at most the probe and one request (about
// 3 s), and the host still gets its line. Xlib waits on the X server without
// a limit, so a frozen X server (Xwayland with its compositor, or a plain one
// stopped or held in another client's grab) costs at most one request.
constexpr std::chrono::milliseconds kProbeTimeout{1000};
constexpr std::chrono::milliseconds kRequestTimeout{2000};

std::unique_ptr<Desktop> chooseDesktop() {
  const std::string socketPath = sway::socketPathFromEnvironment();
  const bool wayland = isWaylandSession(std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_SESSION_TYPE"));
  switch (chooseWindowSystem(!socketPath.empty() && sway::compositorAnswers(socketPath, kProbeTimeout), wayland)) {
    case WindowSystem::sway:
      return makeSwayDesktop(socketPath, kRequestTimeout);
    case WindowSystem::x11FocusedWindowOnly:
      return withDeadline(makeX11Desktop(X11WindowScope::focusedWindowOnly), kRequestTimeout);
    case WindowSystem::x11:
      break;
  }
  return withDeadline(makeX11Desktop(X11WindowScope::stackingOrder), kRequestTimeout);
}

// Asks the environment and probes the compositor at the first question about
// windows, so a run that asks none (an unsupported mode) talks to no window
// system. Paths are the same for every Linux window system.
class FirstUseDesktop final : public Desktop {
 public:
  std::optional<FrontmostApplication> frontmostApplication() override { return chosen().frontmostApplication(); }
  std::optional<std::vector<LooseValue>> windowList() override { return chosen().windowList(); }
  std::string temporaryDirectory() override { return linuxTemporaryDirectory(); }
  std::string screenshotProgramPath() override { return screenshotProgramBesideExecutable(); }
  bool screenCaptureAllowed() override { return true; }  // X11 and Wayland ask no one

 private:
  Desktop& chosen() {
    if (!chosen_) chosen_ = chooseDesktop();
    return *chosen_;
  }

  std::unique_ptr<Desktop> chosen_;
};

}  // namespace

std::unique_ptr<Desktop> makeSystemDesktop() { return std::make_unique<FirstUseDesktop>(); }

}  // namespace halvic
