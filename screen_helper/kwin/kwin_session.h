// Whether the Wayland session this process runs in is KWin's, and the
// connection on which to ask it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "kwin_bus.h"

namespace halvic::kwin {

// KWin as the session bus knows it.
struct SessionKWin {
  std::unique_ptr<Bus> bus;
  std::string uniqueName;  // the connection that owns org.kde.KWin
};

// The KWin that serves this session's Wayland display (WAYLAND_DISPLAY, by
// default wayland-0, under XDG_RUNTIME_DIR), found by `deadline`; nullopt
// when no Wayland display answers, when there is no session bus, or when the
// process that owns org.kde.KWin on it is not the one that serves the
// display. Only the bus daemon and the kernel are asked, never KWin, so a
// frozen KWin is still recognised (its backend then gets no answers).
std::optional<SessionKWin> findSessionKWin(Clock::time_point deadline);

// The rule: KWin serves the display when it listens on the display's socket
// itself, or when the kwin_wayland_wrapper that started it does (the wrapper
// opens the socket and hands it to KWin, to keep it across KWin restarts).
// `kwinWrapper` is KWin's parent when that is kwin_wayland_wrapper, else 0.
bool servesDisplay(pid_t displayListener, pid_t kwin, pid_t kwinWrapper);

// The Wayland display's socket path for these environment values (either may
// be null), or the empty string when there is none to find.
std::string waylandSocketPath(const char* waylandDisplay, const char* runtimeDirectory);

}  // namespace halvic::kwin
