// Which of our extension's two uuids a GNOME Shell loads. GNOME 43 and 44 load an extension's entry point only as a
// script, 45 and later only as an ES module, so each entry is installed under a uuid of its own
// (gnome-shell-extension/).
#pragma once

#include <string_view>

namespace halvic::gnome {

inline constexpr std::string_view kScriptExtensionUuid = "desktop-helpers@halvic";    // GNOME 43 and 44
inline constexpr std::string_view kModuleExtensionUuid = "desktop-helpers-45@halvic";  // GNOME 45 and later

// The uuid a Shell of `shellVersion` (its ShellVersion property, "48.7") loads: the script entry's below 45, the
// module entry's from 45 on and for a version that does not start with a number (a current Shell, most likely).
std::string_view extensionUuidFor(std::string_view shellVersion);

}  // namespace halvic::gnome
