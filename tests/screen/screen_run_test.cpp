#include "screen_run.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <utility>

#include "fake_desktop.h"
#include "uuid.h"

namespace halvic {
namespace {

using testing::FakeDesktop;
using testing::windowRecord;
using testing::with;
using testing::without;

constexpr std::int32_t kSelf = 100;
constexpr std::int32_t kApp = 200;
constexpr const char* kUuid = "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F0";
const std::string kImagePath = std::string("/tmp/halvic-screen-") + kUuid + ".png";

struct ScreenRunTest : ::testing::Test {
  FakeDesktop desktop;
  CaptureResult captureReply{true, ""};
  std::vector<std::pair<std::int64_t, std::string>> captureCalls;

  ScreenRunOutcome run(std::vector<std::string> args = {"helper"}, UuidSource uuid = [] { return kUuid; }) {
    auto capture = [this](std::int64_t windowID, const std::string& destination) {
      captureCalls.emplace_back(windowID, destination);
      return captureReply;
    };
    return runScreenHelper(args, desktop, kSelf, capture, uuid);
  }
  void frontmostIs(std::int32_t pid, std::optional<std::string> name) { desktop.frontmost = {{pid, std::move(name)}}; }
};

// The value under `key`, or a marker that no result ever holds.
JsonValue valueOf(const JsonObject& result, std::string_view key) {
  const JsonValue* value = result.find(key);
  return value ? *value : JsonValue("<absent>");
}

TEST_F(ScreenRunTest, CommandLineGivesModeAndOutputPath) {
  desktop.windows = {{windowRecord(1, 300)}};
  const JsonObject unsupported{
      {"ok", false}, {"error", "unsupported_mode"}, {"detail", "Yalnizca capture_active_window destekleniyor."}};
  const struct {
    std::vector<std::string> args;
    bool captures;
    std::string outputPath;
  } cases[] = {{{"helper"}, true, ""},
               {{"helper", "capture_active_window", "a/b.json", "ignored"}, true, "a/b.json"},
               {{"helper", "Capture_active_window", "out.json"}, false, "out.json"},
               {{"helper", "capture_active_window "}, false, ""},
               {{"helper", ""}, false, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.size() > 1 ? c.args[1] : "(no mode)");
    desktop.windowListReads = 0;
    ScreenRunOutcome outcome = run(c.args);
    if (c.captures) {
      EXPECT_EQ(valueOf(outcome.result, "ok"), JsonValue(true));
    } else {
      EXPECT_EQ(outcome.result, unsupported);
    }
    EXPECT_EQ(desktop.windowListReads, c.captures ? 1 : 0);
    EXPECT_EQ(outcome.outputPath, c.outputPath);
  }
}

TEST_F(ScreenRunTest, NoWindowReportsTheFrontmostApplicationsName) {
  const auto noWindow = [](const char* owner) {
    return JsonObject{{"ok", false},
                      {"error", "no_active_window"},
                      {"detail", "Aktif pencere bulunamadi. Hedef pencereyi one alip tekrar dene."},
                      {"owner_name", owner}};
  };
  EXPECT_EQ(run().result, noWindow(""));
  frontmostIs(kApp, "Finder");
  desktop.windows = {{windowRecord(1, kApp, 10, 10)}};
  EXPECT_EQ(run().result, noWindow("Finder"));
  frontmostIs(kApp, std::nullopt);
  EXPECT_EQ(run().result, noWindow(""));
  EXPECT_EQ(desktop.frontmostReads, 3);
  EXPECT_TRUE(captureCalls.empty());
}

TEST_F(ScreenRunTest, SuccessReportsTheFrontmostApplicationsBestWindow) {
  frontmostIs(kApp, "Editor");
  LooseMap chosen = with(windowRecord(7, kApp), kCGWindowOwnerName, "Editor Owner");
  chosen = with(chosen, kCGWindowName, " Belge \u015Fablon ");
  chosen = with(chosen, kCGWindowBounds, testing::boundsRecord(-10, 20.5, -300, 400));
  desktop.windows = {{with(windowRecord(8, 300), kCGWindowOwnerName, "Other"), chosen}};

  EXPECT_EQ(run().result,
            (JsonObject{{"ok", true},
                        {"image_path", kImagePath},
                        {"owner_name", "Editor Owner"},
                        {"window_title", " Belge \u015Fablon "},
                        {"bounds", JsonObject{{"x", -10.0}, {"y", 20.5}, {"width", 300.0}, {"height", 400.0}}},
                        {"detail", ""}}));
  EXPECT_EQ(captureCalls, (decltype(captureCalls){{7, kImagePath}}));
  EXPECT_EQ(desktop.frontmostReads, 1);
}

TEST_F(ScreenRunTest, FallsBackToAnotherApplicationsWindowAndItsOwner) {
  const std::pair<std::int32_t, int> cases[] = {{kApp, 2}, {kSelf, 1}};  // frontmost pid, list reads
  for (auto [frontmostPID, listReads] : cases) {
    desktop.windowListReads = 0;
    frontmostIs(frontmostPID, "Front");
    desktop.windows = {{windowRecord(1, kApp, 50, 50), with(windowRecord(9, 300), kCGWindowOwnerName, "Other")}};
    EXPECT_EQ(valueOf(run().result, "owner_name"), JsonValue("Other"));
    EXPECT_EQ(desktop.windowListReads, listReads);  // this tool's own windows are never searched
  }
}

TEST_F(ScreenRunTest, MissingValuesInTheChosenRecordTakeTheirDefaults) {
  frontmostIs(kApp, "Front");
  const LooseMap base = windowRecord(5, kApp);
  const struct {
    LooseMap record;
    std::int64_t windowID;
    const char* owner;
  } cases[] = {
      {with(base, kCGWindowOwnerName, ""), 5, ""},  // an empty owner is used as it is
      {with(base, kCGWindowOwnerName, std::int64_t{3}), 5, "Front"},
      {with(without(base, kCGWindowNumber), kCGWindowName, std::int64_t{1}), 0, "Front"},
      {with(base, kCGWindowNumber, "42"), 42, "Front"},
  };
  for (const auto& c : cases) {
    captureCalls.clear();
    desktop.windows = {{c.record}};
    JsonObject result = run().result;
    EXPECT_EQ(valueOf(result, "owner_name"), JsonValue(c.owner));
    EXPECT_EQ(valueOf(result, "window_title"), JsonValue(""));
    ASSERT_EQ(captureCalls.size(), 1u);
    EXPECT_EQ(captureCalls[0].first, c.windowID);
  }
}

TEST_F(ScreenRunTest, FailedCaptureIsClassifiedByItsMessage) {
  frontmostIs(kApp, "Front");
  desktop.windows = {{with(windowRecord(5, kApp), kCGWindowName, "T")}};
  const std::pair<std::string, const char*> cases[] = {
      {"", "capture_failed"},
      {"screenshot_file_missing", "capture_failed"},
      {"Could not create image: Operation not permitted.", "permission_denied"},
      {"NOT PERMITTED", "permission_denied"},
      {"Eri\u015Fim izni yok: SCREEN RECORDING PERMISSION", "permission_denied"},
      {"not  permitted", "capture_failed"},
      {"PERM\u0130SS\u0130ON", "capture_failed"},  // full lower-casing turns U+0130 into i + U+0307
  };
  for (const auto& [message, error] : cases) {
    SCOPED_TRACE(message);
    captureReply = {false, message};
    EXPECT_EQ(run().result, (JsonObject{{"ok", false},
                                        {"error", error},
                                        {"detail", message.empty() ? "Ekran goruntusu alinamadi." : message},
                                        {"owner_name", "Front"},
                                        {"window_title", "T"}}));
  }
}

TEST_F(ScreenRunTest, ImagePathIsOneFreshlyNamedFileInTheTemporaryDirectory) {
  desktop.windows = {{windowRecord(1, 300)}};
  const std::regex name("halvic-screen-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\.png");
  const std::pair<const char*, std::string> cases[] = {
      {"/var/tmp/x", "/var/tmp/x/"}, {"/var/tmp/x/", "/var/tmp/x/"}, {"/var/tmp/x//", "/var/tmp/x/"}, {"/", "/"}};
  std::set<std::string> names;
  for (const auto& [directory, prefix] : cases) {
    desktop.tempDir = directory;
    const std::string path = *valueOf(run({"helper"}, makeUuidString).result, "image_path").as<std::string>();
    ASSERT_TRUE(path.starts_with(prefix)) << path;
    const std::string file = path.substr(prefix.size());
    EXPECT_EQ(file.size(), 54u);
    EXPECT_TRUE(std::regex_match(file, name)) << file;
    names.insert(file);
  }
  EXPECT_EQ(names.size(), std::size(cases));
}

}  // namespace
}  // namespace halvic
