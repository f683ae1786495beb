// Fuzzes window selection: random window lists (records with missing or
// mistyped values at the rules' boundaries, and elements that are no records)
// go through a fake desktop, and every answer of WindowSelection is held
// against the selection rules. The loose conversions are taken as given.
#include <fuzzer/FuzzedDataProvider.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "desktop.h"
#include "window_record.h"
#include "window_selection.h"

using namespace halvic;

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fuzz_window_selection: %s\n", what);
  std::abort();
}

struct ScriptedDesktop final : Desktop {
  std::optional<std::vector<LooseValue>> windows;
  std::optional<FrontmostApplication> frontmostApplication() override { return std::nullopt; }
  std::optional<std::vector<LooseValue>> windowList() override { return windows; }
  std::string temporaryDirectory() override { return "/nonexistent"; }
  std::string screenshotProgramPath() override { return "/nonexistent"; }
};

// Gives each record a number of its own, under a key selection never reads.
constexpr std::string_view kIndexKey = "fuzz.index";
constexpr std::int32_t kSelf = 4242;
// This tool, other processes, and values equal to one of them only when cut to 32 bits.
constexpr double kPIDs[] = {kSelf, 501, 77, 0, -1, kSelf + 0x1p32, 501 - 0x1p32};

// `number` as any kind of value the window list may hold, or something else.
LooseValue loose(FuzzedDataProvider& in, double number) {
  char text[32];
  switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0: return number;
    case 1: return NumberObject::fromDouble(number).integerValue;
    case 2: return std::string(text, std::to_chars(text, text + sizeof text, number).ptr);
    case 3: return in.ConsumeRandomLengthString(8);
    case 4: return LooseValue::Other{};
    default: return NumberObject::fromDouble(number);
  }
}

LooseMap makeRecord(FuzzedDataProvider& in, std::int64_t index) {
  LooseMap record{{std::string(kIndexKey), index}};
  auto maybe = [&in] { return in.ConsumeIntegralInRange(0, 9) != 0; };
  auto text = [&](std::initializer_list<const std::string_view> notable) {
    return maybe() ? LooseValue(std::string(in.PickValueInArray(notable))) : loose(in, 0.0);
  };
  const double nan = std::nan("");
  if (maybe()) record.emplace(kCGWindowOwnerPID, loose(in, in.PickValueInArray(kPIDs)));
  if (maybe()) record.emplace(kCGWindowLayer, loose(in, in.PickValueInArray({0.0, 0.0, 25.0, -1.0, 0.5})));
  if (maybe()) record.emplace(kCGWindowAlpha, loose(in, in.PickValueInArray({1.0, 0.5, 0.011, 0.01, 0.0, nan})));
  if (maybe()) {
    LooseMap bounds;
    for (const char* key : {"X", "Y", "Width", "Height"}) {
      const double side = in.PickValueInArray({80.0, 79.5, 60.0, 59.9, -200.0, 100.0, 800.0, 1e200, HUGE_VAL, nan});
      if (maybe()) bounds.emplace(key, loose(in, side));
    }
    record.emplace(kCGWindowBounds, maybe() ? LooseValue(std::move(bounds)) : loose(in, 100.0));
  }
  if (maybe()) record.emplace(kCGWindowName, text({"Title", "", "  \n ", "\xE2\x80\xA8", " T "}));
  if (maybe()) {
    record.emplace(kCGWindowOwnerName, text({"Window Server", "Dock", " Dock\t", "\xC2\xA0" "Dock\xE3\x80\x80", "dock",
                                             "Control Center", "Notification Center", "Finder"}));
  }
  return record;
}

std::int64_t indexOf(const LooseMap& record) { return cgIntValue(lookup(record, kIndexKey)); }

// Compared whole, so that a value equal to a process only when cut to 32 bits matches none.
std::int64_t ownerOf(const LooseMap& record) { return cgIntValue(lookup(record, kCGWindowOwnerPID)); }

std::string_view textOf(const LooseMap& record, std::string_view key) {
  const LooseValue* value = lookup(record, key);
  const std::string* s = value ? value->asString() : nullptr;
  return s ? trimWhitespaceAndNewlines(*s) : std::string_view();
}

std::optional<Rect> boundsOf(const LooseMap& record) {
  const LooseValue* value = lookup(record, kCGWindowBounds);
  if (value == nullptr || value->asMap() == nullptr) return std::nullopt;
  return rectFromBounds(*value->asMap());
}

bool qualifies(const LooseMap& record) {
  const double alpha = cgDoubleValue(lookup(record, kCGWindowAlpha));
  const auto bounds = boundsOf(record);
  return ownerOf(record) != kSelf && cgIntValue(lookup(record, kCGWindowLayer)) == 0 &&
         (std::isnan(alpha) || alpha > 0.01) && bounds && std::fabs(bounds->width) >= 80 &&
         std::fabs(bounds->height) >= 60;
}

// Titled before untitled, then the larger area.
std::pair<bool, double> rankOf(const LooseMap& record) {
  const Rect r = boundsOf(record).value_or(Rect{});
  return {!textOf(record, kCGWindowName).empty(), std::fabs(r.width) * std::fabs(r.height)};
}

bool systemSurface(const LooseMap& record) {
  const std::string_view owner = textOf(record, kCGWindowOwnerName);
  return owner == "Window Server" || owner == "Dock" || owner == "Control Center" || owner == "Notification Center";
}

std::int64_t indexOf(const std::optional<LooseMap>& record) { return record ? indexOf(*record) : -1; }

std::vector<std::int64_t> indices(const std::vector<LooseMap>& records) {
  std::vector<std::int64_t> out;
  for (const LooseMap& record : records) out.push_back(indexOf(record));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  ScriptedDesktop desktop;
  std::vector<LooseMap> visible;
  if (in.ConsumeIntegralInRange(0, 31) != 0) {
    desktop.windows.emplace();
    for (int i = in.ConsumeIntegralInRange(0, 12); i > 0; --i) {
      const LooseMap record = makeRecord(in, i);
      if (qualifies(record)) visible.push_back(record);
      desktop.windows->push_back(record);
    }
    if (in.ConsumeIntegralInRange(0, 31) == 0) {  // an element that is no record spoils the whole list
      const auto at = in.ConsumeIntegralInRange<std::size_t>(0, desktop.windows->size());
      desktop.windows->insert(desktop.windows->begin() + static_cast<std::ptrdiff_t>(at), LooseValue("no record"));
      visible.clear();
    }
  }
  const std::int32_t asked = in.PickValueInArray<std::int32_t>({kSelf, 501, 77, 0, -1});
  std::vector<LooseMap> candidates;
  std::optional<LooseMap> best, fallback;
  for (const LooseMap& record : visible) {
    if (ownerOf(record) == asked) candidates.push_back(record);
    if (ownerOf(record) == asked && (!best || rankOf(record) > rankOf(*best))) best = record;
    if (!fallback && !systemSurface(record)) fallback = record;
  }

  const WindowSelection selection(desktop, kSelf);
  if (indices(selection.visibleWindows()) != indices(visible)) fail("visibleWindows is not the qualifying records");
  if (indices(selection.windowCandidates(asked)) != indices(candidates)) fail("windowCandidates is not the process's");
  if (indexOf(selection.bestWindow(asked)) != indexOf(best)) fail("bestWindow is not the frontmost best");
  if (indexOf(selection.fallbackFrontmostWindow()) != indexOf(fallback))
    fail("fallbackFrontmostWindow is not the frontmost window of an ordinary application");
  return 0;
}
