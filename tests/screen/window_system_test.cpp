// Which window system the Linux screen tool talks to.
#include "window_system.h"

#include <gtest/gtest.h>

namespace halvic {
namespace {

TEST(WindowSystem, CompositorIpcFirstThenTheXServerScopedBySession) {
  const struct {
    bool answers;
    const char* waylandDisplay;
    const char* sessionType;
    WindowSystem expected;
  } cases[] = {
      {true, "wayland-1", "wayland", WindowSystem::sway},
      {true, nullptr, nullptr, WindowSystem::sway},
      {false, "wayland-1", nullptr, WindowSystem::x11FocusedWindowOnly},
      {false, nullptr, "wayland", WindowSystem::x11FocusedWindowOnly},
      {false, "", "x11", WindowSystem::x11},
      {false, nullptr, nullptr, WindowSystem::x11},
      {false, nullptr, "Wayland", WindowSystem::x11},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(chooseWindowSystem(c.answers, isWaylandSession(c.waylandDisplay, c.sessionType)), c.expected)
        << c.answers << " " << (c.waylandDisplay ? c.waylandDisplay : "unset") << " "
        << (c.sessionType ? c.sessionType : "unset");
  }
}

}  // namespace
}  // namespace halvic
