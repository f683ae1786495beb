// The X11 desktop backend against a real server and window manager.
#include <gtest/gtest.h>

#include <X11/Xatom.h>

#include <atomic>
#include <thread>

#include "desktop.h"
#include "test_window_process.h"
#include "x_probe.h"
#include "x_session.h"

namespace halvic::e2e {
namespace {

const LooseMap* recordOf(const std::vector<LooseValue>& list, Window window) {
  for (const LooseValue& value : list) {
    const LooseMap* record = value.asMap();
    if (record == nullptr) continue;
    const LooseValue* number = lookup(*record, kCGWindowNumber);
    const auto* n = number ? std::get_if<NumberObject>(&number->variant()) : nullptr;
    if (n != nullptr && n->integerValue == static_cast<std::int64_t>(window)) return record;
  }
  return nullptr;
}

std::optional<NumberObject> numberAt(const LooseMap& map, std::string_view key) {
  const LooseValue* value = lookup(map, key);
  const auto* n = value ? std::get_if<NumberObject>(&value->variant()) : nullptr;
  return n ? std::optional(*n) : std::nullopt;
}

std::optional<std::string> textAt(const LooseMap& map, std::string_view key) {
  const LooseValue* value = lookup(map, key);
  return value && value->asString() ? std::optional(*value->asString()) : std::nullopt;
}

std::vector<Window> listedWindows(const std::vector<LooseValue>& list) {
  std::vector<Window> windows;
  for (const LooseValue& value : list) {
    if (auto n = numberAt(*value.asMap(), kCGWindowNumber)) windows.push_back(static_cast<Window>(n->integerValue));
  }
  return windows;
}

bool listed(Desktop& desktop, Window window) {
  auto list = desktop.windowList();
  return list && recordOf(*list, window) != nullptr;
}

struct RecordCase {
  const char* name;
  std::vector<std::string> options;
  std::optional<std::string> title;  // nullopt: no kCGWindowName at all
  std::string ownerName;
  std::optional<std::int64_t> pid;  // nullopt: the window process's own pid
  bool ordinaryLayer;
  double alpha;
};

TEST(DesktopBackend, RecordsDescribeEachWindowAsTheWindowSystemSeesIt) {
  const std::vector<RecordCase> cases = {
      {"ascii title", {"--title=Quarterly report", "--class=Editor", "--pid=4242"}, "Quarterly report", "Editor", 4242, true, 1.0},
      {"turkish title", {"--title=Çalışma Şeması: ğüşıöç İĞ", "--class=Yazıcı"}, "Çalışma Şeması: ğüşıöç İĞ", "Yazıcı", std::nullopt, true, 1.0},
      {"blank title", {"--title=   ", "--class=Blank"}, "   ", "Blank", std::nullopt, true, 1.0},
      {"no title", {"--class=Untitled"}, std::nullopt, "Untitled", std::nullopt, true, 1.0},
      {"latin-1 WM_NAME only", {"--legacy-title=Café crème", "--class=Legacy"}, "Café crème", "Legacy", std::nullopt, true, 1.0},
      {"compound-text WM_NAME only", {"--compound-title=Gül ve Şeker", "--class=Motif"}, "Gül ve Şeker", "Motif", std::nullopt, true, 1.0},
      {"ill-formed UTF-8", {"--title=Bad\xff\xc3(end\xe2\x82", "--class=Bad"}, "Bad\uFFFD\uFFFD(end\uFFFD\uFFFD", "Bad", std::nullopt, true, 1.0},
      {"pid from the server", {"--title=No pid", "--class=NoPid", "--no-pid"}, "No pid", "NoPid", std::nullopt, true, 1.0},
      {"half transparent", {"--title=Glass", "--opacity=0.5"}, "Glass", "TestWindow", std::nullopt, true, 0.5},
      {"invisible", {"--title=Ghost", "--opacity=0"}, "Ghost", "TestWindow", std::nullopt, true, 0.0},
      {"dialog", {"--title=Save as", "--type=DIALOG"}, "Save as", "TestWindow", std::nullopt, true, 1.0},
      {"utility", {"--title=Palette", "--type=UTILITY"}, "Palette", "TestWindow", std::nullopt, true, 1.0},
      {"dock", {"--title=Panel", "--type=DOCK"}, "Panel", "TestWindow", std::nullopt, false, 1.0},
      {"notification", {"--title=New mail", "--type=NOTIFICATION"}, "New mail", "TestWindow", std::nullopt, false, 1.0},
      {"splash", {"--title=Loading", "--type=SPLASH"}, "Loading", "TestWindow", std::nullopt, false, 1.0},
      {"desktop", {"--title=Wallpaper", "--type=DESKTOP"}, "Wallpaper", "TestWindow", std::nullopt, false, 1.0},
  };
  std::vector<std::unique_ptr<TestWindow>> windows;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    auto options = cases[i].options;
    options.push_back("--size=" + std::to_string(120 + 10 * i) + "x" + std::to_string(90 + 5 * i));
    options.push_back("--pos=" + std::to_string(20 + 40 * i) + "," + std::to_string(30 + 20 * i));
    windows.push_back(std::make_unique<TestWindow>(options));
  }

  auto desktop = makeSystemDesktop();
  const auto list = desktop->windowList();
  ASSERT_TRUE(list.has_value());
  XProbe probe;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const RecordCase& c = cases[i];
    SCOPED_TRACE(c.name);
    const LooseMap* record = recordOf(*list, windows[i]->id());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(textAt(*record, kCGWindowName), c.title);
    EXPECT_EQ(textAt(*record, kCGWindowOwnerName), c.ownerName);
    EXPECT_EQ(numberAt(*record, kCGWindowOwnerPID).value_or(NumberObject{}).integerValue,
              c.pid.value_or(windows[i]->pid()));
    EXPECT_EQ(numberAt(*record, kCGWindowLayer).value_or(NumberObject{}).integerValue == 0, c.ordinaryLayer);
    EXPECT_NEAR(numberAt(*record, kCGWindowAlpha).value_or(NumberObject{}).doubleValue, c.alpha, 1e-6);

    const LooseValue* boundsValue = lookup(*record, kCGWindowBounds);
    ASSERT_TRUE(boundsValue && boundsValue->asMap());
    const LooseMap& bounds = *boundsValue->asMap();
    const auto [x, y] = probe.rootOrigin(windows[i]->id());
    EXPECT_EQ(numberAt(bounds, "X").value_or(NumberObject{}).integerValue, x);
    EXPECT_EQ(numberAt(bounds, "Y").value_or(NumberObject{}).integerValue, y);
    EXPECT_EQ(numberAt(bounds, "Width").value_or(NumberObject{}).integerValue, 120 + 10 * static_cast<int>(i));
    EXPECT_EQ(numberAt(bounds, "Height").value_or(NumberObject{}).integerValue, 90 + 5 * static_cast<int>(i));
  }
}

TEST(DesktopBackend, ListsWindowsFromFrontToBack) {
  TestWindow a({"--title=A"}), b({"--title=B"}), c({"--title=C"});
  XProbe probe;
  // Raise them in an order unlike their creation order.
  for (Window w : {b.id(), a.id(), c.id()}) ASSERT_TRUE(probe.activate(w));
  auto list = makeSystemDesktop()->windowList();
  ASSERT_TRUE(list.has_value());
  EXPECT_EQ(listedWindows(*list), (std::vector<Window>{c.id(), a.id(), b.id()}));
}

TEST(DesktopBackend, LeavesOutHiddenWindowsAndWindowsOfOtherDesktops) {
  TestWindow shown({"--title=Shown"}), minimised({"--title=Minimised"}), elsewhere({"--title=Elsewhere"});
  XProbe probe;
  ASSERT_TRUE(probe.iconify(minimised.id()));
  ASSERT_TRUE(probe.moveToDesktop(elsewhere.id(), 1));
  auto desktop = makeSystemDesktop();
  EXPECT_TRUE(probe.waitUntil([&] { return !listed(*desktop, elsewhere.id()); }));
  auto list = desktop->windowList();
  ASSERT_TRUE(list.has_value());
  EXPECT_EQ(listedWindows(*list), std::vector<Window>{shown.id()});
}

TEST(DesktopBackend, FrontmostApplicationOwnsTheActiveWindow) {
  auto desktop = makeSystemDesktop();
  EXPECT_EQ(desktop->frontmostApplication(), std::nullopt) << "no window, no frontmost application";

  TestWindow editor({"--title=Doc", "--class=Editor", "--pid=4242"});
  TestWindow viewer({"--title=Pic", "--class=Görüntüleyici", "--no-pid"});
  XProbe probe;
  ASSERT_TRUE(probe.activate(editor.id()));
  auto app = desktop->frontmostApplication();
  ASSERT_TRUE(app.has_value());
  EXPECT_EQ(app->processIdentifier, 4242);
  EXPECT_EQ(app->localizedName, "Editor");

  ASSERT_TRUE(probe.activate(viewer.id()));
  app = desktop->frontmostApplication();
  ASSERT_TRUE(app.has_value());
  EXPECT_EQ(app->processIdentifier, viewer.pid());
  EXPECT_EQ(app->localizedName, "Görüntüleyici");
}

TEST(DesktopBackend, WithoutADisplayThereIsNeitherListNorFrontmostApplication) {
  TestWindow window({"--title=Unreachable"});
  ScopedEnv noDisplay("DISPLAY", nullptr);
  auto desktop = makeSystemDesktop();
  EXPECT_EQ(desktop->windowList(), std::nullopt);
  EXPECT_EQ(desktop->frontmostApplication(), std::nullopt);
}

TEST(DesktopBackend, WithoutAWindowManagerReadsTheRootsChildrenAndTheInputFocus) {
  TestWindow back({"--title=Back", "--class=Back", "--pid=501", "--pos=10,10"});
  TestWindow front({"--title=Front", "--class=Front", "--pid=502", "--pos=300,10"});
  XSession::stopWindowManager();
  XProbe probe;
  // The manager's exit hands the clients back to the root in stacking order.
  XRaiseWindow(probe.display(), front.id());
  probe.focus(front.id());

  auto desktop = makeSystemDesktop();
  auto list = desktop->windowList();
  auto app = desktop->frontmostApplication();
  XSession::startWindowManager();

  ASSERT_TRUE(list.has_value());
  EXPECT_EQ(listedWindows(*list), (std::vector<Window>{front.id(), back.id()}));
  const LooseMap* record = recordOf(*list, front.id());
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(textAt(*record, kCGWindowName), "Front");
  ASSERT_TRUE(app.has_value());
  EXPECT_EQ(app->processIdentifier, 502);
  EXPECT_EQ(app->localizedName, "Front");
}

TEST(DesktopBackend, WindowsVanishingWhileTheListIsReadAreHarmless) {
  TestWindow steady({"--title=Steady"});
  std::atomic<bool> done{false};
  // Another client maps and destroys managed windows while the list is read.
  std::thread churn([&done] {
    XProbe other;
    Display* d = other.display();
    for (int round = 0; round < 40 && !done; ++round) {
      std::vector<Window> windows;
      for (int i = 0; i < 5; ++i) {
        Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 100 + i * 10, 100 + i * 10, 200, 150, 0, 0, 0);
        XMapWindow(d, w);
        windows.push_back(w);
      }
      XSync(d, False);
      for (Window w : windows) XDestroyWindow(d, w);
      XSync(d, False);
    }
  });
  auto desktop = makeSystemDesktop();
  testing::internal::CaptureStderr();
  int lists = 0, steadyListed = 0;
  for (int i = 0; i < 100; ++i) {
    auto list = desktop->windowList();
    lists += list ? 1 : 0;
    steadyListed += list && recordOf(*list, steady.id()) ? 1 : 0;
    desktop->frontmostApplication();
  }
  const std::string errors = testing::internal::GetCapturedStderr();
  done = true;
  churn.join();
  EXPECT_EQ(lists, 100);
  EXPECT_EQ(steadyListed, 100);
  EXPECT_EQ(errors, "");
  // Let the window manager finish with the churn before the next test.
  XProbe probe;
  EXPECT_TRUE(probe.waitUntil([&] { return probe.stackingBottomToTop() == std::vector<Window>{steady.id()}; }));
}

// A window manager's list can name windows that are already gone; a stand-in
// manager (the test itself) publishes such a list deterministically.
TEST(DesktopBackend, StaleEntriesOfTheWindowManagersListAreSkipped) {
  TestWindow real({"--title=Real", "--class=Real"});
  XSession::stopWindowManager();
  XProbe probe;
  Display* d = probe.display();
  const Window root = DefaultRootWindow(d);
  const Window check = XCreateSimpleWindow(d, root, 0, 0, 1, 1, 0, 0, 0);
  const Window destroyed = XCreateSimpleWindow(d, root, 0, 0, 100, 100, 0, 0, 0);
  XDestroyWindow(d, destroyed);
  const Atom checkAtom = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
  for (Window w : {root, check}) {
    XChangeProperty(d, w, checkAtom, XA_WINDOW, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&check), 1);
  }
  const unsigned long stacking[] = {destroyed, real.id(), 0x7FFFFF0};
  XChangeProperty(d, root, XInternAtom(d, "_NET_CLIENT_LIST_STACKING", False), XA_WINDOW, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(stacking), 3);
  XSync(d, False);

  testing::internal::CaptureStderr();
  auto list = makeSystemDesktop()->windowList();
  const std::string errors = testing::internal::GetCapturedStderr();
  XDestroyWindow(d, check);
  XSync(d, False);
  XSession::startWindowManager();

  ASSERT_TRUE(list.has_value());
  EXPECT_EQ(listedWindows(*list), std::vector<Window>{real.id()});
  EXPECT_EQ(errors, "");
}

TEST(DesktopBackend, TemporaryDirectoryIsAnAbsoluteTmpdirOrTmp) {
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"/var/tmp/halvic", "/var/tmp/halvic"}, {"relative/dir", "/tmp"}, {"", "/tmp"}, {nullptr, "/tmp"}};
  for (const auto& [tmpdir, expected] : cases) {
    ScopedEnv env("TMPDIR", tmpdir);
    EXPECT_EQ(makeSystemDesktop()->temporaryDirectory(), expected) << (tmpdir ? tmpdir : "(unset)");
  }
}

}  // namespace
}  // namespace halvic::e2e
