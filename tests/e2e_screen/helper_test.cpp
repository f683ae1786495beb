// The whole screen helper, started as a host starts it: which window it
// captures, what it reports, and its two channels to the host (standard output
// and the output file) when the host or the machine mistreats them.
#include <regex>

#include "x_session.h"

namespace halvic::e2e {
namespace {

const json kUnsupportedMode = {
    {"ok", false}, {"error", "unsupported_mode"}, {"detail", "Yalnizca capture_active_window destekleniyor."}};

// Every auxiliary file of the atomic write still lying under `root`.
std::vector<std::string> leftoverAuxiliaryFiles(const fs::path& root) {
  std::vector<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("halvic-screen-") && name.ends_with(".tmp")) found.push_back(entry.path().string());
  }
  return found;
}

TEST(HelperRun, CapturesTheWindowAUserMeansAndReportsIt) {
  struct Scenario {
    const char* name;
    std::vector<std::vector<std::string>> windows;
    std::vector<std::size_t> activate, iconify;
    json expected;
    int captured = -1;  // the window whose bounds and pixels the capture holds
  };
  const std::vector<Scenario> scenarios = {
      // Side by side: without a compositing manager a capture shows what is on screen.
      {"the frontmost application's titled window before its larger untitled one",
       {{"--title=Other app", "--class=Other", "--pid=7002", "--size=300x200", "--pos=1200,700"},
        {"--class=Editor", "--pid=7001", "--size=800x500", "--pos=20,20"},
        {"--title=Notlar — Ağustos", "--class=Editor", "--pid=7001", "--size=321x203", "--pos=900,300"}},
       {1}, {}, {{"ok", true}, {"owner_name", "Editor"}, {"window_title", "Notlar — Ağustos"}, {"detail", ""}}, 2},
      {"another application's window when the frontmost one's is too small",
       {{"--title=Behind", "--class=Behind", "--pid=8003", "--size=500x400", "--pos=20,20"},
        {"--title=Rapor", "--class=Other", "--pid=8002", "--size=400x300", "--pos=700,100"},
        {"--title=Tiny", "--class=Tiny", "--pid=8001", "--size=60x40", "--pos=1300,800"}},
       {1, 2}, {}, {{"ok", true}, {"owner_name", "Other"}, {"window_title", "Rapor"}}, 1},
      {"no dock, invisible or minimised window",
       {{"--title=Ordinary", "--class=Ordinary", "--pid=9004", "--size=300x200"},
        {"--title=Dock", "--class=Panel", "--pid=9001", "--type=DOCK", "--size=800x100"},
        {"--title=Ghost", "--class=Ghost", "--pid=9002", "--opacity=0.005", "--size=700x500"},
        {"--title=Hidden", "--class=Hidden", "--pid=9003", "--size=600x400"}},
       {2}, {3}, {{"ok", true}, {"owner_name", "Ordinary"}, {"window_title", "Ordinary"}}},
      {"nothing on screen", {}, {}, {},
       {{"ok", false}, {"error", "no_active_window"}, {"detail", "Aktif pencere bulunamadi. Hedef pencereyi one alip tekrar dene."},
        {"owner_name", ""}}},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    ScratchDirectory scratch;
    std::vector<std::unique_ptr<TestWindow>> windows;
    for (const auto& options : s.windows) windows.push_back(std::make_unique<TestWindow>(options));
    for (const std::size_t i : s.iconify) ASSERT_TRUE(iconify(windows[i]->id()));
    for (const std::size_t i : s.activate) ASSERT_TRUE(activate(windows[i]->id()));
    Launch launch = helperLaunch({"capture_active_window", (scratch.path / "out" / "result.json").string()}, scratch.path);
    launch.umask = 0;  // the PNG is private all the same
    const std::string line = oneLine(runToEnd(launch));
    const json result = parsed(line);
    EXPECT_EQ(readWholeFile(scratch.path / "out" / "result.json"), line);
    expectSubset(result, s.expected);
    EXPECT_EQ(result.value("ok", false), result.contains("image_path"));
    if (s.captured < 0) continue;
    const auto& options = s.windows[static_cast<std::size_t>(s.captured)];
    unsigned width = 0, height = 0;
    std::sscanf(std::ranges::find_if(options, [](auto& o) { return o.starts_with("--size="); })->c_str(), "--size=%ux%u", &width, &height);
    EXPECT_EQ(result.value("bounds", json()), boundsOf(windows[static_cast<std::size_t>(s.captured)]->id(), width, height));
    const fs::path image = result.value("image_path", "");
    EXPECT_EQ(image.parent_path(), scratch.path);
    EXPECT_TRUE(std::regex_match(image.filename().string(), std::regex("halvic-screen-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.png")));
    expectPatternPng(image, width, height);
  }
}

TEST(HelperStandardOutput, ADeadOrMissingStandardOutputLosesNothingOfTheOutputFile) {
  using enum testing::StdoutTarget;
  const std::vector<std::tuple<const char*, testing::StdoutTarget, bool, std::string>> rows = {
      {"standard output closed", Closed, false, "capture_active_window"},
      {"every standard descriptor closed", Closed, true, "capture_active_window"},
      {"reader gone before the write", ReaderGone, false, "capture_active_window"},
      {"standard output on /dev/full", DevFull, false, "capture_active_window"},
      {"every standard descriptor closed, unsupported mode", Closed, true, "capture_window"},
  };
  ScratchDirectory scratch;
  TestWindow window({"--title=Gölge Rapor", "--class=Yazici", "--size=160x120", "--pos=300,200"});
  ASSERT_TRUE(activate(window.id()));
  for (const auto& [name, target, closeStdinAndStderr, mode] : rows) {
    SCOPED_TRACE(name);
    const fs::path output = scratch.path / "results" / name / "result.json";
    Launch launch = helperLaunch({mode, output.string()}, scratch.path);
    launch.stdoutTarget = target;
    launch.closeStdinAndStderr = closeStdinAndStderr;
    const Outcome outcome = runToEnd(launch);
    EXPECT_TRUE(outcome.exited && outcome.exitCode == 0 && outcome.err.empty()) << outcome.signal << outcome.err;
    const std::string text = readWholeFile(output);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    const json result = parsed(text);
    if (mode != "capture_active_window") {
      EXPECT_EQ(result, kUnsupportedMode);
      continue;
    }
    expectSubset(result, {{"ok", true}, {"window_title", "Gölge Rapor"}});
    const auto png = readPng(result.value("image_path", ""));
    EXPECT_TRUE(png && png->width == 160 && png->height == 120);
  }
  EXPECT_EQ(leftoverAuxiliaryFiles(scratch.path), std::vector<std::string>{});
}

TEST(HelperOutputPath, TheFileHoldsTheWholeTextOrIsLeftAsItWas) {
  struct Row {
    const char* name;
    const char* prepare;  // shell commands run in the case's directory, the helper's working directory
    std::string path;     // relative to that directory
    bool passRelative;    // pass the path as given instead of joined to the directory
    bool written;         // the complete text is at `path`, else `path` is as `prepare` left it
    const char* check = "";  // shell commands that must succeed afterwards
    bool otherUser = false;  // run as nobody (when the tests run as root)
    std::optional<rlim_t> fileSizeLimit = {};
  };
  const std::vector<Row> rows = {
      {"several missing levels", "", "a/b/c/result.json", false, true},
      {"relative path", "", "sub dir/result.json", true, true},
      {"bare relative file name", "", "result.json", true, true},
      {"spaces and non-ASCII letters", "", "Çıktı klasörü/sonuç dosyası ğüş.json", false, true},
      {"symlink to a file: the link is replaced", "echo victim >victim.json; ln -s victim.json result.json",
       "result.json", false, true, "[ \"$(cat victim.json)\" = victim ]"},
      {"dangling symlink: nothing is made at its target", "ln -s \"$PWD/elsewhere/victim.json\" result.json",
       "result.json", false, true, "[ ! -e elsewhere ]"},
      {"existing longer file replaced whole", "head -c 65536 /dev/zero | tr '\\0' x >result.json", "result.json",
       false, true},
      {"existing directory", "mkdir result.json; echo inside >result.json/inside.txt", "result.json", false, false,
       "[ \"$(cat result.json/inside.txt)\" = inside ]"},
      {"unwritable directory", "mkdir locked; echo other >locked/other.json; chmod 555 locked", "locked/result.json",
       false, false, "[ \"$(cat locked/other.json)\" = other ] && [ ! -e locked/result.json ]", true},
      {"missing levels under an unwritable directory", "mkdir locked; chmod 555 locked", "locked/a/b/result.json",
       false, false, "[ ! -e locked/a ]", true},
      {"write cut short, as on a full disk", "echo 'previous result' >result.json", "result.json", false, false,
       "[ \"$(cat result.json)\" = 'previous result' ]", false, 16},
  };
  ScratchDirectory scratch;
  fs::permissions(scratch.path, fs::perms::others_exec | fs::perms::group_exec, fs::perm_options::add);
  // Another user may not reach the build tree, so it starts a copy.
  const fs::path helperCopy = scratch.path / "halvic_screen_helper";
  fs::copy_file(SCREEN_HELPER_PATH, helperCopy);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    SCOPED_TRACE(r.name);
    const fs::path base = scratch.path / std::to_string(i);
    fs::create_directory(base);
    ASSERT_EQ(runToEnd(Launch{.argv = {"/bin/sh", "-ec", r.prepare}, .workingDirectory = base.string()}).exitCode, 0);
    const std::string before = readWholeFile(base / r.path);
    // Only root needs another user to meet a directory it may not write to.
    const bool asOtherUser = geteuid() == 0 && r.otherUser;
    Launch launch{.argv = testing::helperCommand(asOtherUser ? helperCopy.string() : SCREEN_HELPER_PATH,
                                                 {"unsupported", r.passRelative ? r.path : (base / r.path).string()}),
                  .workingDirectory = base.string(), .umask = 022, .fileSizeLimit = r.fileSizeLimit};
    if (asOtherUser) launch.user = 65534;
    const std::string line = oneLine(runToEnd(launch));
    EXPECT_EQ(parsed(line), kUnsupportedMode);
    if (r.written) {
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(base / r.path)));
      EXPECT_EQ(readWholeFile(base / r.path), line);
      EXPECT_EQ(fs::status(base / r.path).permissions(), static_cast<fs::perms>(0644));
    } else {
      EXPECT_EQ(readWholeFile(base / r.path), before);
    }
    EXPECT_EQ(runToEnd(Launch{.argv = {"/bin/sh", "-ec", r.check}, .workingDirectory = base.string()}).exitCode, 0) << r.check;
    EXPECT_EQ(leftoverAuxiliaryFiles(base), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace halvic::e2e
