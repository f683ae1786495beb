#include "window_system.h"

namespace halvic {

bool isWaylandSession(const char* waylandDisplay, const char* sessionType) {
  return (waylandDisplay != nullptr && waylandDisplay[0] != '\0') ||
         (sessionType != nullptr && std::string_view(sessionType) == "wayland");
}

WindowSystem chooseWindowSystem(bool compositorAnswers, bool waylandSession, bool kwinServesDisplay) {
  if (compositorAnswers) return WindowSystem::sway;
  if (waylandSession && kwinServesDisplay) return WindowSystem::kwin;
  return waylandSession ? WindowSystem::x11FocusedWindowOnly : WindowSystem::x11;
}

}  // namespace halvic
