// Stand-in for <CoreGraphics/CoreGraphics.h> (macOS 26 SDK): only what the
// macOS backends use. Every declaration mirrors CoreGraphics/CGWindow.h, where
// CGWindowListCopyWindowInfo is API_AVAILABLE(macos(10.5)) and not deprecated
// (only the CGWindowListCreateImage family is).
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#define CG_EXTERN extern "C"

CF_IMPLICIT_BRIDGING_ENABLED
CF_ASSUME_NONNULL_BEGIN

typedef uint32_t CGWindowID;

#define kCGNullWindowID ((CGWindowID)0)

typedef CF_OPTIONS(uint32_t, CGWindowListOption){
    kCGWindowListOptionAll = 0,
    kCGWindowListOptionOnScreenOnly = (1 << 0),
    kCGWindowListOptionOnScreenAboveWindow = (1 << 1),
    kCGWindowListOptionOnScreenBelowWindow = (1 << 2),
    kCGWindowListOptionIncludingWindow = (1 << 3),
    kCGWindowListExcludeDesktopElements = (1 << 4),
};

// NULL outside a window-server session; the caller owns the array ("Copy").
CG_EXTERN CFArrayRef __nullable CGWindowListCopyWindowInfo(CGWindowListOption option, CGWindowID relativeToWindow);

CF_ASSUME_NONNULL_END
CF_IMPLICIT_BRIDGING_DISABLED
