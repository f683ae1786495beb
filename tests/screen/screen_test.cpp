// The screen tool's logic over a fake desktop: window records, the selection
// rules, the run's result, and the macOS window-list shaping.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <set>

#include "desktop.h"
#include "screen_run.h"
#include "utf16_text.h"
#include "uuid.h"
#include "window_list_shaping.h"
#include "window_record.h"
#include "window_selection.h"

namespace halvic {
namespace {

constexpr std::int32_t kSelf = 100, kApp = 200;
constexpr std::int64_t kBeyond32Bits = std::int64_t{1} << 32;
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
const double kInf = std::numeric_limits<double>::infinity();

// A desktop that hands out what a test put in and counts the window-list reads.
struct FakeDesktop final : Desktop {
  std::optional<FrontmostApplication> frontmost;
  std::optional<std::vector<LooseValue>> windows = std::vector<LooseValue>{};
  std::string tempDir = "/tmp";
  int windowListReads = 0;

  std::optional<FrontmostApplication> frontmostApplication() override { return frontmost; }
  std::optional<std::vector<LooseValue>> windowList() override {
    ++windowListReads;
    return windows;
  }
  std::string temporaryDirectory() override { return tempDir; }
  std::string screenshotProgramPath() override { return "/nonexistent/screenshot"; }
  bool captureAllowed = true;
  bool screenCaptureAllowed() override { return captureAllowed; }
  std::string withheld;
  std::string withheldWindowsDetail() override { return withheld; }
};

LooseMap boundsRecord(double x, double y, double width, double height) {
  return {{"X", x}, {"Y", y}, {"Width", NumberObject::fromDouble(width)}, {"Height", NumberObject::fromDouble(height)}};
}

// An opaque 800x600 layer-0 window of `pid` as the platform reports it, with
// `changes` set on it (an empty value removes the key).
LooseMap windowRecord(std::int64_t number, std::int64_t pid,
                      std::vector<std::pair<std::string_view, std::optional<LooseValue>>> changes = {}) {
  LooseMap record{{std::string(kCGWindowNumber), NumberObject::fromInteger(number)},
                  {std::string(kCGWindowOwnerPID), NumberObject::fromInteger(pid)},
                  {std::string(kCGWindowLayer), NumberObject::fromInteger(0)},
                  {std::string(kCGWindowAlpha), NumberObject::fromDouble(1.0)},
                  {std::string(kCGWindowBounds), boundsRecord(0, 0, 800, 600)}};
  for (auto& [key, value] : changes) {
    if (value) record.insert_or_assign(std::string(key), std::move(*value));
    else record.erase(std::string(key));
  }
  return record;
}

// A platform number with type encoding `type` as the macOS backend shapes it;
// its signed reading is -7, its unsigned one 2^64 - 1, its double one `v`.
LooseValue shaped(const char* type, double v = 0) {
  return numberObjectFrom(type, [] { return std::int64_t{-7}; }, [] { return UINT64_MAX; }, [v] { return v; });
}

TEST(WindowRecord, ConversionsTakeTheReadingOfTheStorageAndOnlyWholeNumberStrings) {
  const std::tuple<LooseValue, std::int64_t, double> cases[] = {
      {shaped("d", 42.9), 42, 42.9},  {shaped("f", -1.5), -1, -1.5},  {shaped("d", 1e300), kMax, 1e300},
      {shaped("d", -kInf), std::numeric_limits<std::int64_t>::min(), -kInf},  {shaped("d", std::nan("")), 0, 0},
      {shaped("Q"), kMax, 0x1p64},  {shaped("C"), kMax, 0x1p64},  {shaped("q"), -7, -7},  {shaped("B"), -7, -7},
      {shaped(nullptr), -7, -7},  {2.5, 0, 2.5},  {"+42", 42, 42},  {"+-42", 0, 0},  {"42.5", 0, 42.5},  {"42x", 0, 0},
      {" 42", 0, 0},  {"9223372036854775808", 0, 0x1p63},  {"1e400", 0, 0},  {"-Infinity", 0, -kInf},  {LooseMap{}, 0, 0},
  };
  for (const auto& [value, integer, real] : cases) {
    const double read = cgDoubleValue(&value);
    EXPECT_EQ(cgIntValue(&value), integer) << read;
    EXPECT_TRUE(read == real || (std::isnan(read) && real == 0)) << read;
  }
  // A platform dictionary with a key that is no string is no map at all.
  EXPECT_EQ(looseValueFromDictionary({{"Width", shaped("d", 640)}, {std::nullopt, shaped("i")}}).asMap(), nullptr);
}

// A window that passes every filter is the fallback too, unless its owner is a
// system surface (by exact trimmed name).
TEST(WindowSelection, VisibleWindowsPassEveryFilterAndFallbackSkipsSystemSurfaces) {
  enum Kept { no, yes, visibleOnly };  // visibleOnly: not the fallback
  const std::tuple<std::string_view, std::optional<LooseValue>, Kept> cases[] = {
      {kCGWindowAlpha, NumberObject::fromDouble(0.011), yes},  {kCGWindowAlpha, NumberObject::fromDouble(0.01), no},
      {kCGWindowAlpha, std::nullopt, no},  {kCGWindowAlpha, std::nan(""), yes},
      {kCGWindowBounds, boundsRecord(0, 0, 80, 60), yes},  {kCGWindowBounds, boundsRecord(0, 0, 79.5, 600), no},
      {kCGWindowBounds, boundsRecord(0, 0, 800, 59.9), no},  {kCGWindowBounds, boundsRecord(0, 0, -200, -100), yes},
      {kCGWindowBounds, boundsRecord(0, 0, std::nan(""), 100), no},  {kCGWindowBounds, "{0,0,800,600}", no},
      {kCGWindowLayer, std::nullopt, yes},  {kCGWindowLayer, NumberObject::fromInteger(25), no},
      {kCGWindowLayer, NumberObject::fromInteger(-1), no},  {kCGWindowOwnerPID, std::int64_t{kSelf}, no},
      {kCGWindowOwnerPID, kBeyond32Bits + kSelf, yes},  // names no process
      {kCGWindowOwnerName, "Window Server", visibleOnly},  {kCGWindowOwnerName, " Dock\n", visibleOnly},
      {kCGWindowOwnerName, "\tNotification Center ", visibleOnly},  {kCGWindowOwnerName, "Control Center", visibleOnly},
      {kCGWindowOwnerName, "dock", yes},  {kCGWindowOwnerName, NumberObject::fromInteger(1), yes},
  };
  for (const auto& [key, value, kept] : cases) {
    FakeDesktop desktop;
    desktop.windows = {{windowRecord(1, kApp, {{key, value}})}};
    const WindowSelection selection(desktop, kSelf);
    EXPECT_EQ(selection.visibleWindows().size(), kept == no ? 0u : 1u) << key << " " << kept;
    EXPECT_EQ(selection.fallbackFrontmostWindow().has_value(), kept == yes) << key << " " << kept;
  }
  FakeDesktop desktop;  // one unreadable element spoils the whole list
  desktop.windows = {{windowRecord(1, kApp), LooseValue("not a record")}};
  EXPECT_FALSE(WindowSelection(desktop, kSelf).bestWindow(kApp));
}

TEST(WindowSelection, BestWindowIsTitledFirstThenLargestThenFrontmost) {
  struct Window {
    double width, height;
    std::optional<LooseValue> title;
    std::int64_t pid = kApp;
  };
  const std::pair<std::vector<Window>, std::optional<std::int64_t>> cases[] = {  // windows, index of the best
      {{{2000, 2000, {}}, {100, 100, "Notes"}}, 1},  {{{800, 600, "a"}, {1024, 768, "b"}}, 1},
      {{{500, 500, " \r\n\t\u2028\u00A0\u3000"}, {1000, 1000, {}}}, 1},  // a blank title is none
      {{{500, 500, NumberObject::fromInteger(5)}, {1000, 1000, {}}}, 1},
      {{{800, 600, "a"}, {600, 800, "b"}, {480, 1000, "c"}}, 0},  {{{150, 100, {}}, {-200, 100, {}}}, 1},
      {{{3000, 3000, "big", 300}, {3000, 3000, "", kBeyond32Bits + kApp}, {100, 100, {}}}, 2},
      {{{50, 50, "tiny"}, {900, 900, "other", 300}}, std::nullopt},
  };
  for (const auto& c : cases) {
    FakeDesktop desktop;
    for (const Window& w : c.first) {
      const LooseMap bounds = boundsRecord(0, 0, w.width, w.height);
      const std::int64_t number = std::ssize(*desktop.windows);
      desktop.windows->push_back(windowRecord(number, w.pid, {{kCGWindowName, w.title}, {kCGWindowBounds, bounds}}));
    }
    const auto best = WindowSelection(desktop, kSelf).bestWindow(kApp);
    EXPECT_EQ(best ? std::optional(cgIntValue(lookup(*best, kCGWindowNumber))) : std::nullopt, c.second) << &c - cases;
  }
}

const std::string kImagePath = "/tmp/halvic-screen-0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F0.png";

struct ScreenRun : ::testing::Test {
  FakeDesktop desktop;
  CaptureResult captureReply{true, ""};
  std::vector<std::pair<std::int64_t, std::string>> captureCalls;

  JsonObject run(std::optional<FrontmostApplication> frontmost, std::vector<LooseValue> windows,
                 UuidSource uuid = [] { return "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F0"; }) {
    desktop.frontmost = std::move(frontmost);
    desktop.windows = std::move(windows);
    desktop.windowListReads = 0;
    captureCalls.clear();
    const auto capture = [this](std::int64_t windowID, const std::string& destination) {
      captureCalls.emplace_back(windowID, destination);
      return captureReply;
    };
    return runScreenHelper({"helper"}, desktop, kSelf, capture, uuid).result;
  }
};

// The frontmost application's best window is captured and reported with its
// own owner name; a failed capture is classified by its message.
TEST_F(ScreenRun, ReportsTheChosenWindowAndTheCapturesOutcome) {
  const std::tuple<bool, std::string, const char*> cases[] = {
      {true, "", nullptr},  {true, "warning: slow", nullptr},  // capture success, its message, the error reported
      {false, "", "capture_failed"},  {false, "screenshot_file_missing", "capture_failed"},
      {false, "Could not create image: Operation Not Permitted.", "permission_denied"},
      {false, "Eri\u015Fim izni yok: SCREEN RECORDING PERMISSION", "permission_denied"},
      {false, "not  permitted", "capture_failed"},
      {false, "PERM\u0130SS\u0130ON", "capture_failed"},  // full lower-casing turns U+0130 into i + U+0307
  };
  const JsonObject bounds{{"x", -10.0}, {"y", 20.5}, {"width", 300.0}, {"height", 400.0}};
  for (const auto& [success, message, error] : cases) {
    captureReply = {success, message};
    EXPECT_EQ(run({{kApp, "Editor"}},
                  {windowRecord(8, 300, {{kCGWindowOwnerName, "Other"}}),
                   windowRecord(7, kApp, {{kCGWindowOwnerName, "Editor Owner"}, {kCGWindowName, " Belge "},
                                          {kCGWindowBounds, boundsRecord(-10, 20.5, -300, 400)}})}),
              (success ? JsonObject{{"ok", true}, {"image_path", kImagePath}, {"owner_name", "Editor Owner"},
                                    {"window_title", " Belge "}, {"bounds", bounds}, {"detail", message}}
                       : JsonObject{{"ok", false}, {"error", error},
                                    {"detail", message.empty() ? "Ekran goruntusu alinamadi." : message},
                                    {"owner_name", "Editor Owner"}, {"window_title", " Belge "}}));
    EXPECT_EQ(captureCalls, (decltype(captureCalls){{7, kImagePath}}));
  }
  // A system that withholds screen capture is answered before any child
  // starts, whatever the child would have said.
  desktop.captureAllowed = false;
  const JsonObject refused = run({{kApp, "Editor"}}, {windowRecord(7, kApp, {{kCGWindowName, "Belge"}})});
  EXPECT_EQ(*refused.find("error"), JsonValue("permission_denied"));
  EXPECT_NE(refused.find("detail")->as<std::string>()->find("Ekran kaydi izni"), std::string::npos);
  EXPECT_EQ(*refused.find("window_title"), JsonValue("Belge"));
  EXPECT_TRUE(captureCalls.empty());
}

// Without a window of the frontmost application the frontmost window of
// another one (not the one behind it) is taken (this tool's own windows are
// never searched); the chosen record's missing values take their defaults.
TEST_F(ScreenRun, FallbackWindowAndDefaultsOfTheChosenRecord) {
  const LooseMap small = windowRecord(1, kApp, {{kCGWindowBounds, boundsRecord(0, 0, 50, 50)}});
  const LooseMap other = windowRecord(9, 300, {{kCGWindowOwnerName, "Other"}});
  const std::tuple<std::int32_t, LooseMap, int, std::int64_t, const char*> cases[] = {
      {kApp, other, 2, 9, "Other"},  // frontmost pid, the window after a too small one, list reads, captured, owner
      {kSelf, other, 1, 9, "Other"},
      {kApp, windowRecord(5, kApp, {{kCGWindowOwnerName, ""}}), 1, 5, ""},  // an empty owner is used as it is
      {kApp, windowRecord(5, kApp, {{kCGWindowOwnerName, std::int64_t{3}}}), 1, 5, "Front"},
      {kApp, windowRecord(5, kApp, {{kCGWindowNumber, std::nullopt}, {kCGWindowName, std::int64_t{1}}}), 1, 0, "Front"},
  };
  for (const auto& [frontmost, window, listReads, captured, owner] : cases) {
    const JsonObject result = run({{frontmost, "Front"}}, {small, window, windowRecord(10, 300)});
    EXPECT_EQ(*result.find("owner_name"), JsonValue(owner));
    EXPECT_EQ(*result.find("window_title"), JsonValue(""));
    EXPECT_EQ(desktop.windowListReads, listReads);
    EXPECT_EQ(captureCalls.at(0).first, captured);
  }
  EXPECT_EQ(run({{kApp, "Front"}}, {small}),
            (JsonObject{{"ok", false}, {"error", "no_active_window"},
                        {"detail", "Aktif pencere bulunamadi. Hedef pencereyi one alip tekrar dene."},
                        {"owner_name", "Front"}}));
  // A desktop that withholds the user's windows until the user enables
  // something: finding none is a refusal the user can act on. A window it
  // does show is still captured.
  desktop.withheld = "Uzantiyi ac.";
  EXPECT_EQ(run({{kApp, "Front"}}, {small}), (JsonObject{{"ok", false}, {"error", "permission_denied"},
                                                        {"detail", "Uzantiyi ac."}, {"owner_name", "Front"}}));
  EXPECT_EQ(*run({{kApp, "Front"}}, {other}).find("ok"), JsonValue(true));
}

TEST_F(ScreenRun, ImagePathIsOneFreshlyNamedFileInTheTemporaryDirectory) {
  const std::regex name("halvic-screen-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\.png");
  std::set<std::string> paths;
  for (const auto& [directory, prefix] : {std::pair{"/tmp/x", "/tmp/x/"}, {"/tmp//", "/tmp/"}, {"/", "/"}}) {
    desktop.tempDir = directory;
    const std::string path = *run({}, {windowRecord(1, 300)}, makeUuidString).find("image_path")->as<std::string>();
    ASSERT_TRUE(path.starts_with(prefix)) << path;
    EXPECT_TRUE(std::regex_match(path.substr(std::string_view(prefix).size()), name)) << path;
    paths.insert(path.substr(path.size() - 40));
  }
  EXPECT_EQ(paths.size(), 3u);
}

TEST(WindowListShaping, Utf16UnitsBecomeValidUtf8) {
  // Surrogate pairs make one character, a lone or cut-off half U+FFFD, NUL stays.
  const std::vector<std::uint16_t> units = {'a', 0x20AC, 0, 0xD83D, 0xDE00, 0xDBFF, 0xDFFF, 0xDE00, 'y', 0xD83D};
  EXPECT_EQ(utf8FromUtf16(units),
            std::string("a\xE2\x82\xAC\0\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"
                        "\xEF\xBF\xBDy\xEF\xBF\xBD", 20));
}

}  // namespace
}  // namespace halvic
