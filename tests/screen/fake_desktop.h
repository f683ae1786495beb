// A desktop that hands out what a test put in and counts what was asked of it,
// plus builders for window records as the platform reports them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "desktop.h"
#include "loose_value.h"

namespace halvic::testing {

class FakeDesktop final : public Desktop {
 public:
  std::optional<FrontmostApplication> frontmost;
  std::optional<std::vector<LooseValue>> windows = std::vector<LooseValue>{};
  std::string tempDir = "/tmp";
  int frontmostReads = 0;
  int windowListReads = 0;

  std::optional<FrontmostApplication> frontmostApplication() override {
    ++frontmostReads;
    return frontmost;
  }
  std::optional<std::vector<LooseValue>> windowList() override {
    ++windowListReads;
    return windows;
  }
  std::string temporaryDirectory() override { return tempDir; }
  std::string screenshotProgramPath() override { return "/nonexistent/screenshot"; }
};

inline LooseMap boundsRecord(double x, double y, double width, double height) {
  return {{"X", NumberObject::fromDouble(x)},
          {"Y", NumberObject::fromDouble(y)},
          {"Width", NumberObject::fromDouble(width)},
          {"Height", NumberObject::fromDouble(height)}};
}

// An opaque layer-0 window of `pid`, every number a number object.
inline LooseMap windowRecord(std::int64_t number, std::int64_t pid, double width = 800, double height = 600) {
  return {{std::string(kCGWindowNumber), NumberObject::fromInteger(number)},
          {std::string(kCGWindowOwnerPID), NumberObject::fromInteger(pid)},
          {std::string(kCGWindowLayer), NumberObject::fromInteger(0)},
          {std::string(kCGWindowAlpha), NumberObject::fromDouble(1.0)},
          {std::string(kCGWindowBounds), boundsRecord(0, 0, width, height)}};
}

inline LooseMap with(LooseMap record, std::string_view key, LooseValue value) {
  record.insert_or_assign(std::string(key), std::move(value));
  return record;
}

inline LooseMap without(LooseMap record, std::string_view key) {
  record.erase(std::string(key));
  return record;
}

}  // namespace halvic::testing
