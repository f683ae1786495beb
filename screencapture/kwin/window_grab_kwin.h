// Reading one window's pixels in KDE Plasma's Wayland session, through KWin's
// screenshot interface (org.kde.KWin.ScreenShot2).
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "kwin_session.h"
#include "rgb_image.h"

namespace halvic::capture {

// The client area of the window whose number (kwin::windowNumber of its
// uuid) is `number`, at its output's scale, without decoration, shadow or
// cursor: its own pixels, whatever covers it. The window list is read again
// through our KWin script first, and a number that names no window or more
// than one, or a window the user cannot see (KWin would never answer for it),
// is refused without asking KWin for pixels. KWin's refusal of an
// unauthorised program comes back as a message that says it is a permission.
std::variant<RgbImage, std::string> grabKWinWindow(kwin::SessionKWin& kwin, std::uint32_t number);

}  // namespace halvic::capture
