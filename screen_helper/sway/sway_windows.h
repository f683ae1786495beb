// The screen tool's view of a compositor's layout tree (a get_tree reply):
// the window records and the focused application, as the logic reads them on
// every platform. No I/O here, so fixtures of real replies drive it in tests.
#pragma once

#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "desktop.h"
#include "loose_value.h"

namespace halvic::sway {

// One window record per window that is on screen: the windows on the visible
// workspace of each output (not the scratchpad), without those the compositor
// marks invisible (tabs behind the selected one, windows behind a fullscreen
// one). Front to back: workspaces as recently focused; within a workspace a
// fullscreen window, then floating windows above tiled ones, each group most
// recently focused first (the tree's focus lists).
//
// Number = container id, owner pid = pid, owner name = app_id or, for an
// Xwayland window, its X11 class; title = name when it is text; bounds = the
// content area in global logical coordinates; alpha = opacity (1.0 when the
// compositor does not report it); layer 0 for ordinary toplevels, tiled or
// floating, the matching non-zero layer for an Xwayland window whose type
// says menu, tooltip, dock and the like. A key is left out when the tree does
// not tell.
std::vector<LooseValue> windowRecords(const nlohmann::json& tree);

// The focused window's process and owner name. When a container or workspace
// holds the focus, its most recently focused window stands for it; nullopt when
// there is none (an empty workspace). A pid the tree does not give reads -1, so
// that it matches no listed window.
std::optional<FrontmostApplication> focusedApplication(const nlohmann::json& tree);

}  // namespace halvic::sway
