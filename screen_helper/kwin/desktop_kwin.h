// The desktop backend for KDE Plasma's Wayland session: the window list and
// the focus from a KWin script of ours, loaded for each question.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "desktop.h"
#include "kwin_session.h"

namespace halvic {

// Each question runs `scriptTemplate` (normally kwin::windowListScript()) in
// `kwin` and waits at most `timeout` for its report; a KWin that leaves one
// question unanswered gives no frontmost application and no window list, now
// and for the rest of the run.
std::unique_ptr<Desktop> makeKWinDesktop(kwin::SessionKWin kwin, std::string scriptTemplate,
                                         std::chrono::milliseconds timeout);

}  // namespace halvic
