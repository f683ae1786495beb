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

TEST(DesktopBackend, RecordsDescribeEachWindowAsTheWindowSystemSeesIt) {
  struct Row {
    std::vector<std::string> options;
    json expected;  // "ordinary": in the layer of ordinary windows; the pid is the window process's own unless given
  };
  auto row = [](std::vector<std::string> options, json title, const char* owner, bool ordinary = true,
                double alpha = 1) {
    return Row{
        options,
        {{"kCGWindowName", title}, {"kCGWindowOwnerName", owner}, {"ordinary", ordinary}, {"kCGWindowAlpha", alpha}}};
  };
  std::vector<Row> rows = {
      row({"--title=Quarterly report", "--class=Editor", "--pid=4242"}, "Quarterly report", "Editor"),
      row({"--title=Çalışma Şeması: ğüşıöç İĞ", "--class=Yazıcı"}, "Çalışma Şeması: ğüşıöç İĞ", "Yazıcı"),
      row({"--title=   ", "--class=Blank"}, "   ", "Blank"),
      row({"--class=Untitled"}, nullptr, "Untitled"),
      row({"--legacy-title=Café crème", "--class=Legacy"}, "Café crème", "Legacy"),
      row({"--compound-title=Gül ve Şeker", "--class=Motif"}, "Gül ve Şeker", "Motif"),
      row({"--title=Yeni ad", "--legacy-title=Eski ad", "--class=Both"}, "Yeni ad", "Both"),
      row({"--title=Bad\xff\xc3(end\xe2\x82", "--class=Bad"}, "Bad\uFFFD\uFFFD(end\uFFFD\uFFFD", "Bad"),
      row({"--title=No pid", "--class=NoPid", "--no-pid"}, "No pid", "NoPid"),
      row({"--title=Glass", "--opacity=0.5"}, "Glass", "TestWindow", true, 0.5),
      row({"--title=Ghost", "--opacity=0"}, "Ghost", "TestWindow", true, 0),
      row({"--title=Save as", "--type=DIALOG"}, "Save as", "TestWindow"),
      row({"--title=Palette", "--type=UTILITY"}, "Palette", "TestWindow"),
      row({"--title=Panel", "--type=DOCK"}, "Panel", "TestWindow", false),
      row({"--title=New mail", "--type=NOTIFICATION"}, "New mail", "TestWindow", false),
      row({"--title=Loading", "--type=SPLASH"}, "Loading", "TestWindow", false),
      row({"--title=Wallpaper", "--type=DESKTOP"}, "Wallpaper", "TestWindow", false),
  };
  rows[0].expected["kCGWindowOwnerPID"] = 4242;
  std::vector<std::unique_ptr<TestWindow>> windows;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const int width = 120 + 10 * static_cast<int>(i), height = 90 + 5 * static_cast<int>(i);
    rows[i].options.push_back("--size=" + std::to_string(width) + "x" + std::to_string(height));
    rows[i].options.push_back("--pos=" + std::to_string(20 + 40 * i) + "," + std::to_string(30 + 20 * i));
    windows.push_back(std::make_unique<TestWindow>(rows[i].options));
    const json bounds = boundsOf(windows[i]->id(), width, height);
    rows[i].expected["kCGWindowBounds"] = {
        {"X", bounds["x"]}, {"Y", bounds["y"]}, {"Width", width}, {"Height", height}};
    rows[i].expected.emplace("kCGWindowOwnerPID", windows[i]->pid());
    rows[i].expected["kCGWindowNumber"] = windows[i]->id();
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
  TestWindow back({"--title=Back"}), minimised({"--title=Minimised"}), elsewhere({"--title=Elsewhere"}),
      sticky({"--title=Sticky"});
  ASSERT_TRUE(iconify(minimised.id()));
  ASSERT_TRUE(moveToDesktop(elsewhere.id(), 1));
  ASSERT_TRUE(moveToDesktop(sticky.id(), 0xFFFFFFFF));
  for (const auto& [window, pid, name] :
       {std::tuple{&viewer, viewer.pid(), "Görüntüleyici"}, std::tuple{&editor, 4242, "Editor"}}) {
    ASSERT_TRUE(activate(window->id()));
    const auto app = desktop->frontmostApplication().value_or(FrontmostApplication{});
    EXPECT_EQ(app.processIdentifier, pid);
    EXPECT_EQ(app.localizedName, name);
  }
  const std::vector<Window> expected{editor.id(), viewer.id(), sticky.id(), back.id()};
  EXPECT_TRUE(waitUntil([&] { return listed(*desktop) == expected; })) << ::testing::PrintToString(listed(*desktop));
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
  const unsigned long stale[] = {XCreateSimpleWindow(x(), root, 0, 0, 100, 100, 0, 0, 0), back.id(), 0x7FFFFF0};
  XDestroyWindow(x(), stale[0]);
  for (Window w : {root, check}) {
    XChangeProperty(x(), w, XInternAtom(x(), "_NET_SUPPORTING_WM_CHECK", False), XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&check), 1);
  }
  XChangeProperty(x(), root, XInternAtom(x(), "_NET_CLIENT_LIST_STACKING", False), XA_WINDOW, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(stale), 3);
  XSync(x(), False);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(listed(*desktop), std::vector<Window>{back.id()});
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  XDestroyWindow(x(), check);
  XSync(x(), False);
  XSession::startWindowManager();
}

TEST(DesktopBackend, ReadsTheEnvironment) {
  for (const auto& [tmpdir, expected] : std::vector<std::pair<const char*, std::string>>{
           {"/var/tmp/halvic", "/var/tmp/halvic"}, {"relative/dir", "/tmp"}, {"", "/tmp"}, {nullptr, "/tmp"}}) {
    tmpdir ? setenv("TMPDIR", tmpdir, 1) : unsetenv("TMPDIR");
    EXPECT_EQ(makeSystemDesktop()->temporaryDirectory(), expected) << (tmpdir ? tmpdir : "(unset)");
  }
  TestWindow window({"--title=Unreachable"});
  unsetenv("DISPLAY");
  EXPECT_EQ(makeSystemDesktop()->windowList(), std::nullopt);
  EXPECT_EQ(makeSystemDesktop()->frontmostApplication(), std::nullopt);
  setenv("DISPLAY", XSession::display().c_str(), 1);
}

// A failure is a non-zero status with exactly one line on stderr.
void expectCaptureFails(std::vector<std::string> args, std::map<std::string, std::string> environment = {}) {
  args.insert(args.begin(), SCREENCAPTURE_PATH);
  // A socket left by a compositor that is gone must not keep the program from X.
  environment.emplace("SWAYSOCK", "/nonexistent/sway-ipc.sock");
  const Outcome run = runToEnd(Launch{.argv = args, .environment = environment});
  EXPECT_NE(run.exitCode, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(!run.err.empty() && run.err.find('\n') == run.err.size() - 1) << run.err;
}

TEST(Screencapture, RefusesAnyOtherCommandLineAndNeverReplacesOrFollowsWhatIsAtThePath) {
  ScratchDirectory scratch;
  TestWindow window({"--title=Target"});
  const std::string id = std::to_string(window.id()), path = (scratch.path / "shot.png").string();
  const fs::path existing = scratch.path / "existing.png", target = scratch.path / "target.png",
                 link = scratch.path / "link.png";
  std::ofstream(existing) << "keep me";
  fs::create_symlink(target, link);
  for (const auto& args :
       std::vector<std::vector<std::string>>{{},
                                             {"-x", "-o", "-l", id},
                                             {"-x", "-o", "-l", id, path, "extra"},
                                             {"-o", "-x", "-l", id, path},
                                             {"-x", "-o", "-l" + id, path},
                                             {"-x", "-o", "-l", "0", path},
                                             {"-x", "-o", "-l", "-5", path},
                                             {"-x", "-o", "-l", id + "a", path},
                                             {"-x", "-o", "-l", "4294967296", path},
                                             {"-x", "-o", "-l", id, ""},
                                             {"-x", "-o", "-l", id, existing},
                                             {"-x", "-o", "-l", id, link},
                                             {"-x", "-o", "-l", id, scratch.path / "missing/shot.png"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    expectCaptureFails(args);
  }
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(readWholeFile(existing), "keep me");
  EXPECT_FALSE(fs::exists(target));
}

// Neither program gets anything from a server out of reach, and the helper
// says so in its one line.
TEST(Screencapture, FailsOnWindowsAndServersItCannotRead) {
  ScratchDirectory scratch;
  const std::string path = (scratch.path / "shot.png").string();
  const Window gone = TestWindow({"--title=Short-lived"}).id();
  expectCaptureFails({"-x", "-o", "-l", std::to_string(gone), path});

  // A server that wants a cookie only its own authority file holds.
  std::ofstream(scratch.path / "authority")
      << std::string("\xff\xff\0\0\0\0\0\x12MIT-MAGIC-COOKIE-1\0\x10", 28) << "0123456789abcdef";
  XServer refusing({"-auth", (scratch.path / "authority").string()});
  setenv("XAUTHORITY", "/nonexistent", 1);
  ASSERT_EQ(XOpenDisplay(refusing.display().c_str()), nullptr) << "the server lets clients in without its cookie";
  TestWindow window({"--title=Unreachable"});
  for (const char* display : {static_cast<const char*>(nullptr), refusing.display().c_str()}) {
    SCOPED_TRACE(display ? display : "no DISPLAY");
    display ? setenv("DISPLAY", display, 1) : unsetenv("DISPLAY");
    expectCaptureFails({"-x", "-o", "-l", std::to_string(window.id()), path});
    const json result = parsed(oneLine(runToEnd(helperLaunch({}, scratch.path))));
    expectSubset(result, {{"ok", false}, {"error", "no_active_window"}, {"owner_name", ""}});
  }
  setenv("DISPLAY", XSession::display().c_str(), 1);
  unsetenv("XAUTHORITY");
  // Xlib would wait for a frozen server forever; the program's deadline ends the wait.
  XServer frozen;
  kill(frozen.pid(), SIGSTOP);
  expectCaptureFails({"-x", "-o", "-l", "4194305", path}, {{"DISPLAY", frozen.display()}});
  kill(frozen.pid(), SIGCONT);
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path), fs::directory_iterator()), 1)
      << "only the authority file";
}

}  // namespace
}  // namespace halvic::e2e
