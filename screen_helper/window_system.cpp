#include "window_system.h"

namespace halvic {

bool isWaylandSession(const char* waylandDisplay, const char* sessionType) {
  return (waylandDisplay != nullptr && waylandDisplay[0] != '\0') ||
         (sessionType != nullptr && std::string_view(sessionType) == "wayland");
}

WindowSystem chooseWindowSystem(const SessionProbes& probes) {
  if (probes.swayAnswers) return WindowSystem::sway;
  if (!probes.waylandSession) return WindowSystem::x11;
  if (probes.kwinServesDisplay) return WindowSystem::kwin;
  switch (probes.gnomeShell) {
    case GnomeShellProbe::extensionAnswers:
    case GnomeShellProbe::silent:
      return WindowSystem::gnome;
    case GnomeShellProbe::extensionMissing:
      return WindowSystem::gnomeWithoutExtension;
    case GnomeShellProbe::absent:
      break;
  }
  return WindowSystem::x11FocusedWindowOnly;
}

}  // namespace halvic
