// GLib's messages kept away from the programs' standard streams (Linux).
#pragma once

namespace halvic {

// Drops every GLib message and g_print/g_printerr text for the rest of the
// process. The helpers print nothing but their result, and the screenshot
// program keeps stderr for its own one line. GLib takes one log writer per
// process and aborts on a second, so every GLib user in a program calls this
// one function; calls after the first do nothing.
void silenceGLib();

}  // namespace halvic
