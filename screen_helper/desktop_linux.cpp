// The Linux desktop: the one place that picks the window system at run time.
#include <chrono>
#include <cstdlib>

#include "bounded_desktop.h"
#include "desktop.h"
#include "gnome/desktop_gnome.h"
#include "kwin/desktop_kwin.h"
#include "kwin/kwin_session.h"
#include "kwin/window_list_script.h"
#include "linux_desktop.h"
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
  const bool swayAnswers = !socketPath.empty() && sway::compositorAnswers(socketPath, kProbeTimeout);
  SessionProbes probes{.swayAnswers = swayAnswers, .waylandSession = wayland};
  // KWin is recognised without asking it (the bus daemon and the kernel
  // answer), so a frozen KWin still gets its own backend, which then reports
  // nothing: in its session the X server's numbers would name other windows
  // than the screenshot program takes there.
  std::optional<kwin::SessionKWin> kwin;
  if (wayland && !swayAnswers) kwin = kwin::findSessionKWin(kwin::Clock::now() + kProbeTimeout);
  probes.kwinServesDisplay = kwin.has_value();
  GnomeShellFound gnomeShell;
  if (wayland && !swayAnswers && !kwin) gnomeShell = findGnomeShell(kProbeTimeout);
  probes.gnomeShell = gnomeShell.probe;
  switch (chooseWindowSystem(probes)) {
    case WindowSystem::sway:
      return makeSwayDesktop(socketPath, kRequestTimeout);
    case WindowSystem::kwin:
      return makeKWinDesktop(std::move(*kwin), std::string(kwin::windowListScript()), kRequestTimeout);
    case WindowSystem::gnome:
      return makeGnomeDesktop(std::move(gnomeShell.bus), kRequestTimeout);
    case WindowSystem::gnomeWithoutExtension:
      return withExtensionMissing(withDeadline(makeX11Desktop(X11WindowScope::focusedWindowOnly), kRequestTimeout),
                                  gnomeShell.reply, gnomeShell.shellVersion);
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
class FirstUseDesktop final : public LinuxDesktop {
 public:
  std::optional<FrontmostApplication> frontmostApplication() override { return chosen().frontmostApplication(); }
  std::optional<std::vector<LooseValue>> windowList() override { return chosen().windowList(); }
  std::string withheldWindowsDetail() override { return chosen().withheldWindowsDetail(); }

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
