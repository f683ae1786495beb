// A deadline for the whole capture. Each wait on the compositor is bounded,
// but the X11 grab waits on Xlib, which cannot be bounded: under a sway whose
// compositor froze, Xwayland stops answering too.
#pragma once

namespace halvic::capture {

// After `seconds`, the process writes one line to stderr and exits with
// status 1, unless stopWatchdog() came first.
void startWatchdog(unsigned seconds);
// Called before the file is created, so the deadline never leaves half a file.
void stopWatchdog();

}  // namespace halvic::capture
