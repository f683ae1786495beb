// Where the user's session bus is (Linux), found the way the bus's own clients
// find it, but never by autolaunch.
#pragma once

#include <string>

namespace halvic {

// DBUS_SESSION_BUS_ADDRESS when it is set (and not "autolaunch:"), else the
// socket $XDG_RUNTIME_DIR/bus when it exists; empty when there is neither.
// GLib would otherwise start a bus daemon of its own (dbus-launch, given a
// DISPLAY), which outlives the run and holds no desktop and no calendars.
std::string sessionBusAddress();

}  // namespace halvic
