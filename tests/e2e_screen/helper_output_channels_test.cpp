// The helper's two channels to the host, standard output and the output file,
// when the host or the machine mistreats them: the run must still end with
// status 0, and the file must hold the complete text or be left as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>

#include "e2e_files.h"
#include "helper_checks.h"
#include "helper_command.h"
#include "png_read.h"
#include "program_launch.h"
#include "test_window_process.h"
#include "x_probe.h"
#include "x_session.h"

namespace halvic::e2e {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::Launch;
using testing::Outcome;
using testing::StdoutTarget;
using testing::helperCommand;
using testing::runToEnd;

constexpr uid_t kNobody = 65534;

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

void writeFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class HelperStandardOutput : public ::testing::Test {
 protected:
  ScratchDirectory scratch;
};

struct StdoutCase {
  const char* name;
  StdoutTarget target;
  bool closeStdinAndStderr;
};

TEST_F(HelperStandardOutput, ADeadOrMissingStandardOutputLosesNothingOfTheOutputFile) {
  const std::vector<StdoutCase> cases = {
      {"standard output closed", StdoutTarget::Closed, false},
      {"every standard descriptor closed", StdoutTarget::Closed, true},
      {"reader gone before the write", StdoutTarget::ReaderGone, false},
      {"standard output on /dev/full", StdoutTarget::DevFull, false},
  };
  TestWindow window({"--title=Gölge Rapor", "--class=Yazici", "--size=160x120", "--pos=300,200"});
  XProbe probe;
  ASSERT_TRUE(probe.activate(window.id()));

  for (const std::string mode : {"capture_active_window", "capture_window"}) {
    for (const StdoutCase& c : cases) {
      SCOPED_TRACE(mode + ", " + c.name);
      const fs::path output = scratch.path() / "results" / (mode + " " + c.name) / "result.json";
      Launch launch;
      launch.argv = helperCommand(SCREEN_HELPER_PATH, {mode, output.string()});
      launch.environment = {{"TMPDIR", scratch.path().string()}, {"DISPLAY", XSession::display()}};
      launch.stdoutTarget = c.target;
      launch.closeStdinAndStderr = c.closeStdinAndStderr;
      const Outcome outcome = runToEnd(launch);

      EXPECT_FALSE(outcome.timedOut);
      EXPECT_TRUE(outcome.exited) << "ended by signal " << outcome.signal;
      EXPECT_EQ(outcome.exitCode, 0);
      EXPECT_EQ(outcome.err, "");
      const std::string text = readWholeFile(output);
      EXPECT_EQ(text.find('\n'), std::string::npos);
      const json result = parseResult(text);
      if (mode != "capture_active_window") {
        EXPECT_EQ(result, kUnsupportedMode);
        continue;
      }
      ASSERT_EQ(result.value("ok", false), true) << text;
      EXPECT_EQ(result.at("window_title"), "Gölge Rapor");
      const auto png = readPng(result.at("image_path"));
      ASSERT_TRUE(png.has_value());
      EXPECT_EQ(png->width, 160u);
      EXPECT_EQ(png->height, 120u);
    }
  }
  EXPECT_EQ(leftoverAuxiliaryFiles(scratch.path()), std::vector<std::string>{});
}

// One output path as the host may pass it, with what must be true afterwards.
// Paths are relative to the case's own directory, which is also the helper's
// working directory.
struct OutputPathCase {
  const char* name = "";
  std::function<void(const fs::path& base)> prepare = {};
  std::string outputPath = {};
  bool passRelative = false;  // pass outputPath as given instead of joined to the base
  std::optional<uid_t> user = {};
  std::optional<rlim_t> fileSizeLimit = {};
  std::optional<std::string> writtenAt = {};          // where the complete text must be
  std::map<std::string, std::string> untouched = {};  // files whose content must not change
  std::vector<std::string> absent = {};               // paths that must not exist
};

TEST(HelperOutputPath, TheFileHoldsTheWholeTextOrIsLeftAsItWas) {
  ScratchDirectory scratch;
  // The unprivileged cases must reach their directories.
  fs::permissions(scratch.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
  auto lockedDirectory = [](const fs::path& base) {
    fs::create_directories(base / "locked");
    fs::permissions(base / "locked", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                         fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  };
  const std::string longer(65536, 'x');

  const std::vector<OutputPathCase> cases = {
      {.name = "several missing levels", .outputPath = "a/b/c/result.json", .writtenAt = "a/b/c/result.json"},
      {.name = "relative path", .outputPath = "sub dir/result.json", .passRelative = true,
       .writtenAt = "sub dir/result.json"},
      {.name = "bare relative file name", .outputPath = "result.json", .passRelative = true,
       .writtenAt = "result.json"},
      {.name = "spaces and non-ASCII letters", .outputPath = "Çıktı klasörü/sonuç dosyası ğüş.json",
       .writtenAt = "Çıktı klasörü/sonuç dosyası ğüş.json"},
      {.name = "symlink to a file: the link is replaced",
       .prepare =
           [](const fs::path& base) {
             writeFile(base / "victim.json", "victim");
             fs::create_symlink("victim.json", base / "result.json");
           },
       .outputPath = "result.json",
       .writtenAt = "result.json",
       .untouched = {{"victim.json", "victim"}}},
      {.name = "dangling symlink: nothing is made at its target",
       .prepare = [](const fs::path& base) { fs::create_symlink(base / "elsewhere" / "victim.json", base / "result.json"); },
       .outputPath = "result.json",
       .writtenAt = "result.json",
       .absent = {"elsewhere"}},
      {.name = "existing longer file replaced whole",
       .prepare = [&longer](const fs::path& base) { writeFile(base / "result.json", longer); },
       .outputPath = "result.json",
       .writtenAt = "result.json"},
      {.name = "existing directory",
       .prepare = [](const fs::path& base) { writeFile(base / "result.json" / "inside.txt", "inside"); },
       .outputPath = "result.json",
       .untouched = {{"result.json/inside.txt", "inside"}}},
      {.name = "unwritable directory",
       .prepare =
           [&lockedDirectory](const fs::path& base) {
             writeFile(base / "locked" / "other.json", "other");
             lockedDirectory(base);
           },
       .outputPath = "locked/result.json",
       .user = kNobody,
       .untouched = {{"locked/other.json", "other"}},
       .absent = {"locked/result.json"}},
      {.name = "missing levels under an unwritable directory",
       .prepare = lockedDirectory,
       .outputPath = "locked/a/b/result.json",
       .user = kNobody,
       .absent = {"locked/a"}},
      {.name = "write cut short, as on a full disk",
       .prepare = [](const fs::path& base) { writeFile(base / "result.json", "previous result"); },
       .outputPath = "result.json",
       .fileSizeLimit = 16,
       .untouched = {{"result.json", "previous result"}}},
  };

  // Another user may not reach the build tree (a clone inside a private
  // directory, say), so the cases run as another user start a copy.
  const fs::path helperCopy = scratch.path() / "halvic_screen_helper";
  fs::copy_file(SCREEN_HELPER_PATH, helperCopy);

  int index = 0;
  for (const OutputPathCase& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path base = scratch.path() / ("case" + std::to_string(index++));
    fs::create_directory(base);
    if (c.prepare) c.prepare(base);
    Launch launch;
    // Only root needs another user to meet a directory it may not write to.
    const bool asOtherUser = geteuid() == 0 && c.user;
    launch.argv = helperCommand(asOtherUser ? helperCopy.string() : std::string(SCREEN_HELPER_PATH),
                                {"unsupported", c.passRelative ? c.outputPath : (base / c.outputPath).string()});
    launch.workingDirectory = base.string();
    if (asOtherUser) launch.user = c.user;
    launch.fileSizeLimit = c.fileSizeLimit;
    launch.umask = 022;
    const std::string line = expectOneCleanLine(runToEnd(launch));
    EXPECT_EQ(parseResult(line), kUnsupportedMode);

    if (c.writtenAt) {
      const fs::path written = base / *c.writtenAt;
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(written)));
      EXPECT_EQ(readWholeFile(written), line);
      EXPECT_EQ(fs::status(written).permissions(), static_cast<fs::perms>(0644));
    }
    for (const auto& [path, content] : c.untouched) EXPECT_EQ(readWholeFile(base / path), content) << path;
    for (const std::string& path : c.absent) EXPECT_FALSE(fs::exists(fs::symlink_status(base / path))) << path;
    EXPECT_EQ(leftoverAuxiliaryFiles(base), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace halvic::e2e
