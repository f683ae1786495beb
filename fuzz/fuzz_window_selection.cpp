// Fuzzes window selection: random window lists (records with missing,
// mistyped or odd values, and elements that are no records at all) go through
// a fake desktop, and every answer of WindowSelection is held against the
// rules re-stated here. The loose conversions are taken as given; they have a
// fuzz target of their own.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "desktop.h"
#include "loose_value.h"
#include "loose_value_maker.h"
#include "utf8_reference.h"
#include "window_record.h"
#include "window_selection.h"

using namespace halvic;

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fuzz_window_selection: %s\n", what);
  std::abort();
}

// Tags each record with its place in the list, under a key selection never
// reads, so that an answer can be traced back to the record it came from.
constexpr std::string_view kIndexKey = "fuzz.index";

class ScriptedDesktop final : public Desktop {
 public:
  std::optional<std::vector<LooseValue>> windows;
  int windowListReads = 0;

  std::optional<FrontmostApplication> frontmostApplication() override { return std::nullopt; }
  std::optional<std::vector<LooseValue>> windowList() override {
    ++windowListReads;
    return windows;
  }
  std::string temporaryDirectory() override { return "/nonexistent"; }
  std::string screenshotProgramPath() override { return "/nonexistent"; }
};

// Process identifiers the records and the questions are drawn from, so that
// matches are common: this tool, the frontmost application, another one, and
// values that equal one of them only after truncation to 32 bits.
constexpr std::int32_t kCurrentPID = 4242;
constexpr std::int32_t kFrontPID = 501;
constexpr std::int64_t kPIDs[] = {kCurrentPID, kFrontPID, 77, 0, -1, std::int64_t{kCurrentPID} + (std::int64_t{1} << 32),
                                  std::int64_t{kFrontPID} - (std::int64_t{1} << 32)};

LooseValue makePID(FuzzedDataProvider& in) {
  const std::int64_t pid = in.PickValueInArray(kPIDs);
  switch (in.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: return std::to_string(pid);
    case 1: return pid;
    case 2: return fuzz::makeAnyLooseValue(in, 1);
    default: return NumberObject::fromInteger(pid);
  }
}

LooseValue makeNumber(FuzzedDataProvider& in, const std::vector<double>& notable) {
  const double d = notable[in.ConsumeIntegralInRange<std::size_t>(0, notable.size() - 1)];
  switch (in.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: return d;
    case 1: return fuzz::makeAnyLooseValue(in, 1);
    default: return NumberObject::fromDouble(d);
  }
}

LooseValue makeBounds(FuzzedDataProvider& in) {
  static const std::vector<double> kSides = {80.0, 79.5, 60.0, 59.9, -200.0, 100.0, 800.0, 1024.0, 2000.0,
                                             1e200, std::numeric_limits<double>::infinity(),
                                             std::numeric_limits<double>::quiet_NaN()};
  static const std::vector<double> kOrigins = {0.0, -50.0, 1e9};
  if (in.ConsumeIntegralInRange<int>(0, 7) == 0) return fuzz::makeAnyLooseValue(in, 1);
  LooseMap bounds;
  if (in.ConsumeIntegralInRange<int>(0, 7) != 0) bounds.emplace("Width", makeNumber(in, kSides));
  if (in.ConsumeIntegralInRange<int>(0, 7) != 0) bounds.emplace("Height", makeNumber(in, kSides));
  if (in.ConsumeBool()) bounds.emplace("X", makeNumber(in, kOrigins));
  if (in.ConsumeBool()) bounds.emplace("Y", makeNumber(in, kOrigins));
  return bounds;
}

LooseValue makeText(FuzzedDataProvider& in, std::initializer_list<std::string_view> notable) {
  const auto pick = in.ConsumeIntegralInRange<std::size_t>(0, notable.size() + 2);
  if (pick < notable.size()) return std::string(notable.begin()[pick]);
  if (pick == notable.size()) return fuzz::makeAnyLooseValue(in, 1);  // mostly not a string
  return fuzz::makeUtf8Text(in);
}

// A window record; each key may be missing, and any value may be of a kind
// other than the platform's.
LooseValue makeRecord(FuzzedDataProvider& in, std::int64_t index) {
  static const std::vector<double> kLayers = {0.0, 0.0, 0.0, 25.0, -1.0, 0.5};
  static const std::vector<double> kAlphas = {1.0, 1.0, 0.5, 0.011, 0.01, 0.0,
                                              std::numeric_limits<double>::quiet_NaN()};
  LooseMap record;
  record.emplace(kIndexKey, index);
  auto maybe = [&in] { return in.ConsumeIntegralInRange<int>(0, 9) != 0; };
  if (maybe()) record.emplace(kCGWindowOwnerPID, makePID(in));
  if (maybe()) record.emplace(kCGWindowLayer, makeNumber(in, kLayers));
  if (maybe()) record.emplace(kCGWindowAlpha, makeNumber(in, kAlphas));
  if (maybe()) record.emplace(kCGWindowBounds, makeBounds(in));
  if (in.ConsumeBool()) record.emplace(kCGWindowName, makeText(in, {"Title", "", "  \n ", "\xE2\x80\xA8", " T "}));
  if (maybe()) {
    record.emplace(kCGWindowOwnerName, makeText(in, {"Window Server", "Dock", " Dock\t", "\xC2\xA0" "Dock\xE3\x80\x80",
                                                     "dock", "Control Center", "Notification Center",
                                                     "Notification  Center", "Finder", ""}));
  }
  if (in.ConsumeBool()) record.emplace(kCGWindowNumber, makePID(in));
  return record;
}

std::optional<std::vector<LooseValue>> makeWindowList(FuzzedDataProvider& in) {
  if (in.ConsumeIntegralInRange<int>(0, 31) == 0) return std::nullopt;
  std::vector<LooseValue> list;
  const auto count = in.ConsumeIntegralInRange<int>(0, 12);
  for (int i = 0; i < count; ++i) {
    if (in.ConsumeIntegralInRange<int>(0, 63) == 0) {
      list.push_back(fuzz::makeAnyText(in));  // not a record: spoils the whole list
    } else {
      list.push_back(makeRecord(in, i));
    }
  }
  return list;
}

// ---- the rules, re-stated -------------------------------------------------

// A process identifier that does not fit 32 bits names no process.
std::optional<std::int32_t> ownerOf(const LooseMap& record) {
  const std::int64_t pid = cgIntValue(lookup(record, kCGWindowOwnerPID));
  if (pid < std::numeric_limits<std::int32_t>::min() || pid > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int32_t>(pid);
}

const LooseMap* boundsOf(const LooseMap& record) {
  const LooseValue* v = lookup(record, kCGWindowBounds);
  return v ? v->asMap() : nullptr;
}

std::string textOf(const LooseMap& record, std::string_view key) {
  const LooseValue* v = lookup(record, key);
  const std::string* s = v ? v->asString() : nullptr;
  return s ? fuzz::trimmed(*s) : std::string();
}

bool qualifies(const LooseMap& record) {
  if (ownerOf(record) == kCurrentPID) return false;
  if (cgIntValue(lookup(record, kCGWindowLayer)) != 0) return false;
  const double alpha = cgDoubleValue(lookup(record, kCGWindowAlpha));
  if (!std::isnan(alpha) && alpha <= 0.01) return false;
  const LooseMap* bounds = boundsOf(record);
  if (bounds == nullptr) return false;
  const Rect r = rectFromBounds(*bounds);
  if (std::isnan(r.width) || std::isnan(r.height)) return false;
  return std::fabs(r.width) >= 80.0 && std::fabs(r.height) >= 60.0;
}

std::vector<const LooseMap*> expectedVisible(const std::optional<std::vector<LooseValue>>& list) {
  std::vector<const LooseMap*> out;
  if (!list) return out;
  for (const LooseValue& v : *list) {
    if (v.asMap() == nullptr) return {};
  }
  for (const LooseValue& v : *list) {
    if (qualifies(*v.asMap())) out.push_back(v.asMap());
  }
  return out;
}

bool titled(const LooseMap& record) { return !textOf(record, kCGWindowName).empty(); }

double areaOf(const LooseMap& record) {
  const LooseMap* bounds = boundsOf(record);
  const Rect r = bounds ? rectFromBounds(*bounds) : Rect{};
  return std::fabs(r.width) * std::fabs(r.height);
}

bool excludedOwner(const LooseMap& record) {
  const std::string owner = textOf(record, kCGWindowOwnerName);
  return owner == "Window Server" || owner == "Dock" || owner == "Control Center" || owner == "Notification Center";
}

std::int64_t indexOf(const LooseMap& record) { return cgIntValue(lookup(record, kIndexKey)); }

// The answer must be one of the records handed in, unchanged.
void checkSameRecord(const LooseMap& got, const LooseMap& expected, const char* what) {
  if (indexOf(got) != indexOf(expected) || got.size() != expected.size()) fail(what);
}

void checkList(const std::vector<LooseMap>& got, const std::vector<const LooseMap*>& expected, const char* what) {
  if (got.size() != expected.size()) fail(what);
  for (std::size_t i = 0; i < got.size(); ++i) checkSameRecord(got[i], *expected[i], what);
}

void checkBest(const std::optional<LooseMap>& got, const std::vector<const LooseMap*>& candidates) {
  if (candidates.empty()) {
    if (got) fail("bestWindow returned a window where no candidate qualifies");
    return;
  }
  if (!got) fail("bestWindow returned nothing although a candidate qualifies");
  std::size_t pick = candidates.size();
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (indexOf(*candidates[i]) == indexOf(*got)) pick = i;
  }
  if (pick == candidates.size()) fail("bestWindow returned a record that is not a candidate");
  checkSameRecord(*got, *candidates[pick], "bestWindow changed the record");
  const LooseMap& best = *candidates[pick];
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const LooseMap& other = *candidates[i];
    if (titled(other) && !titled(best)) fail("bestWindow chose an untitled window over a titled one");
    if (titled(other) != titled(best)) continue;
    if (areaOf(other) > areaOf(best)) fail("bestWindow chose a smaller window of the same standing");
    if (i < pick && areaOf(other) == areaOf(best)) fail("bestWindow chose a window behind an equal one");
  }
}

void checkFallback(const std::optional<LooseMap>& got, const std::vector<const LooseMap*>& visible) {
  const LooseMap* expected = nullptr;
  for (const LooseMap* record : visible) {
    if (!excludedOwner(*record)) {
      expected = record;
      break;
    }
  }
  if (got && excludedOwner(*got)) fail("fallbackFrontmostWindow returned a system surface");
  if (!expected) {
    if (got) fail("fallbackFrontmostWindow returned a window where every one is excluded");
    return;
  }
  if (!got) fail("fallbackFrontmostWindow returned nothing although a window qualifies");
  checkSameRecord(*got, *expected, "fallbackFrontmostWindow did not return the frontmost ordinary window");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  ScriptedDesktop desktop;
  desktop.windows = makeWindowList(in);
  const std::int32_t asked = static_cast<std::int32_t>(in.PickValueInArray(kPIDs));
  const WindowSelection selection(desktop, kCurrentPID);

  const auto visible = expectedVisible(desktop.windows);
  std::vector<const LooseMap*> candidates;
  for (const LooseMap* record : visible) {
    if (ownerOf(*record) == asked) candidates.push_back(record);
  }

  const auto gotVisible = selection.visibleWindows();
  checkList(gotVisible, visible, "visibleWindows differs from the qualifying records in list order");
  for (const LooseMap& record : gotVisible) {
    if (cgIntValue(lookup(record, kCGWindowOwnerPID)) == kCurrentPID) fail("visibleWindows kept a window of this tool");
  }
  checkList(selection.windowCandidates(asked), candidates, "windowCandidates differs from the qualifying records of the process");
  checkBest(selection.bestWindow(asked), candidates);
  checkFallback(selection.fallbackFrontmostWindow(), visible);
  if (desktop.windowListReads != 4) fail("selection did not ask the desktop afresh exactly once per call");
  return 0;
}
