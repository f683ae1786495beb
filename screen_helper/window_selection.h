// Which on-screen window the tool captures: the qualifying windows, the best
// window of one process, and the fallback over every ordinary application.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "desktop.h"
#include "loose_value.h"

namespace halvic {

class WindowSelection {
 public:
  // `currentPID` is this process; its own windows are never chosen.
  WindowSelection(Desktop& desktop, std::int32_t currentPID) : desktop_(desktop), currentPID_(currentPID) {}

  // The window records a user could mean, frontmost first: other processes'
  // windows on layer 0, alpha above 0.01, with a bounds record at least 80 by
  // 60 points. Asks the desktop afresh on every call; a list that cannot be had
  // or holds anything but records gives an empty list.
  std::vector<LooseMap> visibleWindows() const;

  // visibleWindows() owned by process `pid`, in the same order.
  std::vector<LooseMap> windowCandidates(std::int32_t pid) const;

  // The candidate of `pid` that ranks first: titled before untitled, then the
  // larger area; ties go to the window nearer the front.
  std::optional<LooseMap> bestWindow(std::int32_t pid) const;

  // The frontmost visible window whose owner is not a system surface (window
  // server, dock, control or notification centre).
  std::optional<LooseMap> fallbackFrontmostWindow() const;

 private:
  Desktop& desktop_;
  std::int32_t currentPID_;
};

}  // namespace halvic
