// Window layers as the macOS window server numbers them. Every backend maps
// its window system's kinds of window onto these, so that "0 is an ordinary
// application window" holds and the others sort the same way.
#pragma once

#include <cstdint>

namespace halvic {

inline constexpr std::int64_t kNormalLayer = 0;
inline constexpr std::int64_t kTornOffMenuLayer = 3;
inline constexpr std::int64_t kDockLayer = 20;
inline constexpr std::int64_t kStatusLayer = 25;
inline constexpr std::int64_t kPopUpMenuLayer = 101;
inline constexpr std::int64_t kOverlayLayer = 102;
inline constexpr std::int64_t kHelpLayer = 200;
inline constexpr std::int64_t kDraggingLayer = 500;
inline constexpr std::int64_t kDesktopLayer = -2147483623;

}  // namespace halvic
