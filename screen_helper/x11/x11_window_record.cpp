#include "x11_window_record.h"

#include "x11_connection.h"
#include "window_record.h"

namespace halvic::x11 {

std::int64_t layerOf(const Connection& connection, const std::vector<std::uint32_t>& types, bool overrideRedirect) {
  const std::pair<AtomName, std::int64_t> known[] = {
      {AtomName::NetWmWindowTypeNormal, kNormalLayer},
      {AtomName::NetWmWindowTypeDialog, kNormalLayer},
      {AtomName::NetWmWindowTypeUtility, kNormalLayer},
      {AtomName::NetWmWindowTypeDesktop, kDesktopLayer},
      {AtomName::NetWmWindowTypeDock, kDockLayer},
      {AtomName::NetWmWindowTypeToolbar, kTornOffMenuLayer},
      {AtomName::NetWmWindowTypeMenu, kTornOffMenuLayer},
      {AtomName::NetWmWindowTypeNotification, kStatusLayer},
      {AtomName::NetWmWindowTypeDropdownMenu, kPopUpMenuLayer},
      {AtomName::NetWmWindowTypePopupMenu, kPopUpMenuLayer},
      {AtomName::NetWmWindowTypeCombo, kPopUpMenuLayer},
      {AtomName::NetWmWindowTypeSplash, kOverlayLayer},
      {AtomName::NetWmWindowTypeTooltip, kHelpLayer},
      {AtomName::NetWmWindowTypeDnd, kDraggingLayer},
  };
  for (std::uint32_t type : types) {
    for (const auto& [name, layer] : known) {
      if (type != XCB_ATOM_NONE && type == connection.atom(name)) return layer;
    }
  }
  return overrideRedirect ? kPopUpMenuLayer : kNormalLayer;
}

double alphaOf(std::optional<std::uint32_t> opacity) {
  if (!opacity) return 1.0;
  return static_cast<double>(*opacity) / static_cast<double>(0xFFFFFFFFu);
}

LooseMap windowRecord(const WindowFacts& facts) {
  LooseMap record{
      {std::string(kCGWindowNumber), NumberObject::fromInteger(facts.window)},
      {std::string(kCGWindowLayer), NumberObject::fromInteger(facts.layer)},
      // alpha lies in 0..1, so its integer view is the fraction dropped.
      {std::string(kCGWindowAlpha), NumberObject{static_cast<std::int64_t>(facts.alpha), facts.alpha}},
      {std::string(kCGWindowBounds), boundsRecord(facts.x, facts.y, facts.width, facts.height)},
  };
  if (facts.ownerPid) record.emplace(kCGWindowOwnerPID, NumberObject::fromInteger(*facts.ownerPid));
  if (facts.ownerName) record.emplace(kCGWindowOwnerName, *facts.ownerName);
  if (facts.title) record.emplace(kCGWindowName, *facts.title);
  return record;
}

}  // namespace halvic::x11
