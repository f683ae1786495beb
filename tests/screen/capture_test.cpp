#include "capture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "temp_dir.h"

namespace halvic {

void PrintTo(const CaptureResult& result, std::ostream* os) {
  *os << "{" << (result.success ? "true" : "false") << ", " << ::testing::PrintToString(result.message) << "}";
}

namespace {

using testing::TempDir;

struct CaptureTest : ::testing::Test {
  TempDir dir;
  std::string destination = dir / "shot.png";

  // A child program that runs `body` under /bin/sh; "$4" is the window number
  // and "$5" the destination.
  std::string script(const std::string& body) {
    const std::string path = dir / "screenshot.sh";
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
  }
};

TEST_F(CaptureTest, JudgesStatusMessageAndFile) {
  const struct {
    const char* body;
    CaptureResult expected;
  } cases[] = {
      {": > \"$5\"", {true, ""}},
      {": > \"$5\"; printf 'warning: slow\\n' >&2", {true, "warning: slow"}},
      {"mkdir \"$5\"", {true, ""}},
      {"ln -s \"$5.absent\" \"$5\"", {false, "screenshot_file_missing"}},
      {"echo 'wrote nothing' >&2", {false, "screenshot_file_missing"}},
      {"printf ' \\n\\t could not capture \\r\\n ' >&2; exit 1", {false, "could not capture"}},
      {": > \"$5\"; exit 3", {false, ""}},
      {"echo 'only on stdout'; exit 1", {false, ""}},
      {"printf 'bad \\377' >&2; printf ' stdout text \\n'; exit 1", {false, "stdout text"}},
      {"printf '\\300\\200' >&2; printf '\\355\\240\\200'; exit 1", {false, ""}},
      {": > \"$5\"; printf '\\377' >&2; printf '\\377'", {true, ""}},
      {"printf 'dying' >&2; kill -KILL $$", {false, "dying"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    std::filesystem::remove_all(destination);
    EXPECT_EQ(captureWindow(script(c.body), 1, destination), c.expected);
  }
}

TEST_F(CaptureTest, DrainsMegabytesOnBothStreams) {
  // Naive sequential reading would deadlock here: each stream fills its pipe
  // while the other is still open.
  const std::string program = script(
      "head -c 3000000 /dev/zero | tr '\\0' o\n"
      "head -c 3000000 /dev/zero | tr '\\0' e >&2\n"
      "head -c 1000000 /dev/zero | tr '\\0' o\n"
      "printf end >&2; exit 1");
  CaptureResult result = captureWindow(program, 1, destination);
  EXPECT_FALSE(result.success);
  EXPECT_EQ(result.message.size(), 3000003u);
  EXPECT_EQ(result.message, std::string(3000000, 'e') + "end");
}

TEST_F(CaptureTest, PassesItsArgumentsUnchanged) {
  const std::string unusual = dir / "dir with blanks/\u00E7\u011F\u00FC \u0131\u015F\u0131k.png";
  const std::string program = script("printf '%s|' \"$@\" >&2; exit 1");
  const struct {
    std::int64_t windowID;
    std::string destination;
    std::string arguments;
  } cases[] = {{42, destination, "-x|-o|-l|42|" + destination + "|"},
               {0, unusual, "-x|-o|-l|0|" + unusual + "|"},
               {-17, unusual, "-x|-o|-l|-17|" + unusual + "|"},
               {INT64_MIN, destination, "-x|-o|-l|-9223372036854775808|" + destination + "|"}};
  for (const auto& c : cases) {
    EXPECT_EQ(captureWindow(program, c.windowID, c.destination), (CaptureResult{false, c.arguments}));
  }
}

TEST_F(CaptureTest, ChildStartsWithDefaultSigpipeAndNoBlockedSignals) {
  // The tool ignores SIGPIPE; the child must not inherit that, nor a mask.
  auto* previous = std::signal(SIGPIPE, SIG_IGN);
  sigset_t block, saved;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR1);
  sigprocmask(SIG_BLOCK, &block, &saved);

  CaptureResult result = captureWindow(CAPTURE_PROBE_PATH, 5, destination);

  sigprocmask(SIG_SETMASK, &saved, nullptr);
  std::signal(SIGPIPE, previous);
  EXPECT_EQ(result, (CaptureResult{false, std::string(CAPTURE_PROBE_PATH) + "\n-x\n-o\n-l\n5\n" + destination +
                                              "\nSIGPIPE default\nmask empty"}));
}

TEST_F(CaptureTest, ProgramThatCannotStartReportsTheSystemsReason) {
  const std::string notExecutable = dir / "plain.txt";
  std::ofstream(notExecutable) << "#!/bin/sh\n";
  const struct {
    std::string program;
    int error;
  } cases[] = {{dir / "missing", ENOENT}, {notExecutable, EACCES}};
  for (const auto& c : cases) {
    EXPECT_EQ(captureWindow(c.program, 1, destination),
              (CaptureResult{false, std::string("screencapture_failed: ") + std::strerror(c.error)}));
  }
  EXPECT_FALSE(std::filesystem::exists(destination));
}

}  // namespace
}  // namespace halvic
