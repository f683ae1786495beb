// The X11 desktop backend in process, and the screenshot program on its own,
// against a real X server and window manager.
#include "desktop.h"
#include "x_session.h"

namespace halvic::e2e {
namespace {

// A window record as JSON, its numbers rounded to six decimals.
json toJson(const LooseValue& value) {
  if (const auto* number = std::get_if<NumberObject>(&value.variant()))
    return std::round(number->doubleValue * 1e6) / 1e6;
  if (value.asString()) return *value.asString();
  json object = value.asMap() ? json::object() : json("(other)");
  for (const auto& [key, entry] : value.asMap() ? *value.asMap() : LooseMap{}) object[key] = toJson(entry);
  return object;
}

std::vector<json> records(Desktop& desktop) {
  std::vector<json> result;
  for (const LooseValue& value : desktop.windowList().value_or(std::vector<LooseValue>{"(no list)"})) {
    result.push_back(toJson(value));
  }
  return result;
}

std::vector<Window> listed(Desktop& desktop) {
  std::vector<Window> windows;
  for (const json& record : records(desktop)) windows.push_back(record.value("kCGWindowNumber", 0ul));
  return windows;
}

// The pid is the window process's own unless given; "ordinary": in the layer of ordinary windows.
TEST(DesktopBackend, RecordsDescribeEachWindowAsTheWindowSystemSeesIt) {
  struct Row {
    std::vector<std::string> options;
    json expected;
  };
  auto row = [](std::vector<std::string> options, json title, const char* owner, bool ordinary = true,
                double alpha = 1) {
    return Row{
        options,
        {{"kCGWindowName", title}, {"kCGWindowOwnerName", owner}, {"ordinary", ordinary}, {"kCGWindowAlpha", alpha}}};
  };
  std::vector<Row> rows = {
      row({"--title=Quarterly report", "--class=Editor", "--pid=4242"}, "Quarterly report", "Editor"),
      row({"--class=Untitled"}, nullptr, "Untitled"),
      row({"--legacy-title=Café crème", "--class=Legacy"}, "Café crème", "Legacy"),
      row({"--compound-title=Gül ve Şeker", "--class=Motif"}, "Gül ve Şeker", "Motif"),
      row({"--title=Yeni ad", "--legacy-title=Eski ad", "--class=Both"}, "Yeni ad", "Both"),
      row({"--title=Bad\xff\xc3(end\xe2\x82", "--class=Bad"}, "Bad\uFFFD\uFFFD(end\uFFFD\uFFFD", "Bad"),
      row({"--title=No pid", "--class=NoPid", "--no-pid"}, "No pid", "NoPid"),
      row({"--title=Glass", "--opacity=0.5"}, "Glass", "TestWindow", true, 0.5),
      row({"--title=Ghost", "--opacity=0"}, "Ghost", "TestWindow", true, 0),
      row({"--title=Save as", "--type=DIALOG"}, "Save as", "TestWindow"),
      row({"--title=Panel", "--type=DOCK"}, "Panel", "TestWindow", false),
      row({"--title=New mail", "--type=NOTIFICATION"}, "New mail", "TestWindow", false),
      row({"--title=Wallpaper", "--type=DESKTOP"}, "Wallpaper", "TestWindow", false),
  };
  rows[0].expected["kCGWindowOwnerPID"] = 4242;
  std::vector<std::unique_ptr<TestWindow>> windows;
  for (Row& r : rows) {
    windows.push_back(std::make_unique<TestWindow>(r.options));
    r.expected.emplace("kCGWindowOwnerPID", windows.back()->pid());
    r.expected["kCGWindowNumber"] = windows.back()->id();
  }
  const auto list = records(*makeSystemDesktop());
  for (const Row& r : rows) {
    SCOPED_TRACE(::testing::PrintToString(r.options));
    auto record = std::ranges::find_if(
        list, [&](const json& j) { return j.value("kCGWindowNumber", 0ul) == r.expected["kCGWindowNumber"]; });
    ASSERT_NE(record, list.end());
    json actual = *record;
    actual["ordinary"] = actual.value("kCGWindowLayer", -1) == 0;
    expectSubset(actual, r.expected);
  }
}

TEST(DesktopBackend, ListsTheShownWindowsFrontToBackAndTheActiveWindowsOwner) {
  auto desktop = makeSystemDesktop();
  EXPECT_EQ(desktop->frontmostApplication(), std::nullopt) << "no window, no frontmost application";
  TestWindow editor({"--title=Doc", "--class=Editor", "--pid=4242"}),
      viewer({"--title=Pic", "--class=Görüntüleyici", "--no-pid"});
  TestWindow back({"--title=Back"}), minimised({"--title=Minimised"}), sticky({"--title=Sticky"}),
      elsewhere({"--title=Elsewhere"}), keptMinimised({"--title=Kept minimised"});
  ASSERT_TRUE(xdotool({"windowminimize", "--sync", std::to_string(minimised.id())}));
  ASSERT_TRUE(xdotool({"set_desktop_for_window", std::to_string(sticky.id()), "4294967295"}));
  ASSERT_TRUE(waitUntil(
      [&] { return property(sticky.id(), "_NET_WM_DESKTOP", XA_CARDINAL) == std::vector{0xFFFFFFFFul}; }));
  // A manager that keeps such windows mapped (for their thumbnails, as KWin can) says so in their properties only.
  setProperty(elsewhere.id(), "_NET_WM_DESKTOP", {1}, XA_CARDINAL);
  setProperty(keptMinimised.id(), "_NET_WM_STATE", {atom("_NET_WM_STATE_HIDDEN")}, XA_ATOM);
  for (const auto& [window, pid, name] :
       {std::tuple{&viewer, viewer.pid(), "Görüntüleyici"}, std::tuple{&editor, 4242, "Editor"}}) {
    ASSERT_TRUE(activate(window->id()));
    const auto app = desktop->frontmostApplication().value_or(FrontmostApplication{});
    EXPECT_EQ(app.processIdentifier, pid);
    EXPECT_EQ(app.localizedName, name);
  }
  const std::vector<Window> expected{editor.id(), viewer.id(), sticky.id(), back.id()};
  EXPECT_TRUE(waitUntil([&] { return listed(*desktop) == expected; })) << ::testing::PrintToString(listed(*desktop));
  // A server that knows no client's pid (no X-Resource; one across a network): an owner that is no process, not 0.
  XServer remote({"-extension", "X-Resource"});
  TestWindow pidless({"--class=Uzak", "--no-pid", "--focus"}, remote.display());
  setenv("DISPLAY", remote.display().c_str(), 1);
  EXPECT_EQ(makeSystemDesktop()->frontmostApplication().value_or(FrontmostApplication{}).processIdentifier, -1);
  setenv("DISPLAY", DisplayString(x()), 1);
}

// Then a stand-in window manager (the test itself) lists windows that are
// gone, as a real one may.
TEST(DesktopBackend, WithoutAWindowManagerOrWithAStaleListOfItsWindows) {
  TestWindow back({"--title=Back", "--class=Back", "--pid=501", "--pos=10,10"});
  TestWindow front({"--title=Front", "--class=Front", "--pid=502", "--pos=300,10"});
  XSession::stopWindowManager();
  // The manager's exit hands the clients back to the root in stacking order.
  XRaiseWindow(x(), front.id());
  XSetInputFocus(x(), front.id(), RevertToPointerRoot, CurrentTime);
  XSync(x(), False);
  auto desktop = makeSystemDesktop();
  const auto app = desktop->frontmostApplication().value_or(FrontmostApplication{});
  EXPECT_EQ(app.processIdentifier, 502);
  EXPECT_EQ(app.localizedName, "Front");
  EXPECT_EQ(listed(*desktop), (std::vector<Window>{front.id(), back.id()}));
  EXPECT_EQ(records(*desktop).front().value("kCGWindowName", ""), "Front");

  const Window root = DefaultRootWindow(x()), check = XCreateSimpleWindow(x(), root, 0, 0, 1, 1, 0, 0, 0);
  const Window gone = XCreateSimpleWindow(x(), root, 0, 0, 100, 100, 0, 0, 0);
  XDestroyWindow(x(), gone);
  for (Window w : {root, check}) setProperty(w, "_NET_SUPPORTING_WM_CHECK", {check});
  setProperty(root, "_NET_CLIENT_LIST_STACKING", {gone, back.id(), 0x7FFFFF0});
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(listed(*desktop), std::vector<Window>{back.id()});
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  XDestroyWindow(x(), check);
  XSync(x(), False);
  XSession::startWindowManager();
}

TEST(DesktopBackend, TemporaryDirectoryIsAnAbsoluteTmpdirOrTmp) {
  for (const auto& [tmpdir, expected] : std::vector<std::pair<const char*, std::string>>{
           {"/var/tmp/halvic", "/var/tmp/halvic"}, {"relative/dir", "/tmp"}, {"", "/tmp"}, {nullptr, "/tmp"}}) {
    tmpdir ? setenv("TMPDIR", tmpdir, 1) : unsetenv("TMPDIR");
    EXPECT_EQ(makeSystemDesktop()->temporaryDirectory(), expected) << (tmpdir ? tmpdir : "(unset)");
  }
}

// A failure is a non-zero status with exactly one line on stderr. Nothing at the path is replaced or followed, a
// frozen server (Xlib would wait for it forever) is given up at the program's deadline, and without a server the
// helper says so in its one line.
TEST(Screencapture, RefusesAnyOtherCommandLineAndWhatItCannotReadOrWrite) {
  TempDir scratch;
  TestWindow window({"--title=Target"});
  const std::string id = std::to_string(window.id()), gone = std::to_string(TestWindow({"--title=Gone"}).id()),
                    path = scratch / "shot.png", existing = scratch / "existing.png", link = scratch / "link.png";
  std::ofstream(existing) << "keep me";
  fs::create_symlink(scratch / "target.png", link);
  XServer frozen;
  kill(frozen.pid(), SIGSTOP);
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{}, ""},  {{"-x", "-o", "-l", id}, ""},  // the rest of the command line's rules: the unit tests
      {{"-x", "-o", "-l", id, path, "extra"}, ""},  {{"-o", "-x", "-l", id, path}, ""},
      {{"-x", "-o", "-l" + id, path}, ""},  {{"-x", "-o", "-l", "4294967296", path}, ""},
      {{"-x", "-o", "-l", id, existing}, ""},  {{"-x", "-o", "-l", id, link}, ""},
      {{"-x", "-o", "-l", id, scratch / "missing/shot.png"}, ""},  {{"-x", "-o", "-l", gone, path}, ""},
      {{"-x", "-o", "-l", id, path}, "no display"},  {{"-x", "-o", "-l", "4194305", path}, frozen.display()},
  };
  for (auto [args, display] : rows) {
    SCOPED_TRACE(::testing::PrintToString(args) + " " + display);
    args.insert(args.begin(), SCREENCAPTURE_PATH);
    // A socket left by a compositor that is gone must not keep the program from X.
    Launch launch{.argv = args, .environment = {{"SWAYSOCK", "/nonexistent/sway-ipc.sock"}}};
    if (display == "no display")
      launch.inheritEnvironment = false;
    else if (!display.empty())
      launch.environment["DISPLAY"] = display;
    const auto run = runToEnd(launch);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(!run.err.empty() && run.err.find('\n') == run.err.size() - 1) << run.err;
  }
  kill(frozen.pid(), SIGCONT);
  EXPECT_EQ(readFile(existing), "keep me");
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path), fs::directory_iterator()), 2) << "only the two";
  Launch helper = helperLaunch({}, scratch.path);
  helper.inheritEnvironment = false;
  expectSubset(parsed(oneLine(runToEnd(helper))), {{"ok", false}, {"error", "no_active_window"}, {"owner_name", ""}});
}

}  // namespace
}  // namespace halvic::e2e
