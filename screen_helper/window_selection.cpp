#include "window_selection.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#include "window_record.h"

namespace halvic {
namespace {

constexpr double kAlphaThreshold = 0.01;
constexpr double kMinimumWidth = 80.0;
constexpr double kMinimumHeight = 60.0;

constexpr std::array<std::string_view, 4> kExcludedOwnerNames = {"Window Server", "Dock", "Control Center",
                                                                 "Notification Center"};

// Process identifiers are 32-bit; a value outside that range names no process
// (it never comes from the platform), so it neither matches this tool nor any
// requested process.
std::optional<std::int32_t> ownerPID(const LooseMap& record) {
  std::int64_t pid = cgIntValue(lookup(record, kCGWindowOwnerPID));
  if (pid < std::numeric_limits<std::int32_t>::min() || pid > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return static_cast<std::int32_t>(pid);
}

const LooseMap* boundsOf(const LooseMap& record) {
  const LooseValue* bounds = lookup(record, kCGWindowBounds);
  return bounds ? bounds->asMap() : nullptr;
}

std::string_view stringOrEmpty(const LooseValue* value) {
  const std::string* s = value ? value->asString() : nullptr;
  return s ? std::string_view(*s) : std::string_view();
}

// Each comparison is written so that NaN, which compares unordered, lands on
// the side the rules give it: an alpha of NaN passes, a NaN size fails.
bool qualifies(const LooseMap& record, std::int32_t currentPID) {
  if (ownerPID(record) == currentPID) return false;
  if (cgIntValue(lookup(record, kCGWindowLayer)) != 0) return false;
  if (cgDoubleValue(lookup(record, kCGWindowAlpha)) <= kAlphaThreshold) return false;
  const LooseMap* bounds = boundsOf(record);
  if (bounds == nullptr) return false;
  Rect rect = rectFromBounds(*bounds);
  return std::fabs(rect.width) >= kMinimumWidth && std::fabs(rect.height) >= kMinimumHeight;
}

struct Rank {
  bool titled = false;
  double area = 0.0;

  // Strict "ranks before": a scan that replaces the best only on a strict win
  // keeps the frontmost of equals, like a stable sort would.
  bool before(const Rank& other) const {
    if (titled != other.titled) return titled;
    return area > other.area;
  }
};

Rank rankOf(const LooseMap& record) {
  Rank rank;
  rank.titled = !trimWhitespaceAndNewlines(stringOrEmpty(lookup(record, kCGWindowName))).empty();
  const LooseMap* bounds = boundsOf(record);
  Rect rect = bounds ? rectFromBounds(*bounds) : Rect{};
  rank.area = std::fabs(rect.width) * std::fabs(rect.height);
  return rank;
}

}  // namespace

std::vector<LooseMap> WindowSelection::visibleWindows() const {
  std::optional<std::vector<LooseValue>> list = desktop_.windowList();
  if (!list) return {};
  bool allRecords = std::all_of(list->begin(), list->end(), [](const LooseValue& v) { return v.asMap() != nullptr; });
  if (!allRecords) return {};

  std::vector<LooseMap> kept;
  for (const LooseValue& value : *list) {
    if (qualifies(*value.asMap(), currentPID_)) kept.push_back(*value.asMap());
  }
  return kept;
}

std::vector<LooseMap> WindowSelection::windowCandidates(std::int32_t pid) const {
  std::vector<LooseMap> candidates = visibleWindows();
  std::erase_if(candidates, [pid](const LooseMap& record) { return ownerPID(record) != pid; });
  return candidates;
}

std::optional<LooseMap> WindowSelection::bestWindow(std::int32_t pid) const {
  std::vector<LooseMap> candidates = windowCandidates(pid);
  if (candidates.empty()) return std::nullopt;
  std::size_t best = 0;
  Rank bestRank = rankOf(candidates[0]);
  for (std::size_t i = 1; i < candidates.size(); ++i) {
    Rank rank = rankOf(candidates[i]);
    if (rank.before(bestRank)) {
      best = i;
      bestRank = rank;
    }
  }
  return std::move(candidates[best]);
}

std::optional<LooseMap> WindowSelection::fallbackFrontmostWindow() const {
  for (LooseMap& record : visibleWindows()) {
    std::string_view owner = trimWhitespaceAndNewlines(stringOrEmpty(lookup(record, kCGWindowOwnerName)));
    bool excluded = std::find(kExcludedOwnerNames.begin(), kExcludedOwnerNames.end(), owner) != kExcludedOwnerNames.end();
    if (!excluded) return std::move(record);
  }
  return std::nullopt;
}

}  // namespace halvic
