// The capture runner against small shell scripts standing in for the
// screenshot program ("$4" is the window number, "$5" the destination).
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "capture.h"
#include "temp_dir.h"

namespace halvic {

void PrintTo(const CaptureResult& result, std::ostream* os) {
  *os << "{" << result.success << ", " << ::testing::PrintToString(result.message.substr(0, 200)) << "}";
}

namespace {

struct Capture : ::testing::Test {
  testing::TempDir dir;
  const std::string destination = dir / "dir with blanks/\u00E7\u011F \u0131\u015F\u0131k.png";

  CaptureResult run(const std::string& body, std::int64_t windowID) {
    const std::string path = dir / "screenshot.sh";
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    std::filesystem::remove_all(destination);
    std::filesystem::create_directories(dir / "dir with blanks");
    return captureWindow(path, windowID, destination);
  }
};

// The tool ignores SIGPIPE and the test blocks SIGUSR1: the child starts with
// both at their defaults, so the signal named by its window number ends it.
TEST_F(Capture, JudgesStatusMessageAndFileOfAChildGivenItsArgumentsAndDefaultSignals) {
  const std::tuple<std::string, std::int64_t, CaptureResult> cases[] = {
      {": > \"$5\"; printf 'warning: slow\\n' >&2", 1, {true, "warning: slow"}},
      {"mkdir \"$5\"", 1, {true, ""}},
      {"ln -s \"$5.absent\" \"$5\"", 1, {false, "screenshot_file_missing"}},
      {"echo 'wrote nothing' >&2", 1, {false, "screenshot_file_missing"}},
      {"printf ' \\n\\t could not capture \\r\\n ' >&2; echo out; exit 1", 1, {false, "could not capture"}},
      {": > \"$5\"; echo 'saved'; exit 3", 1, {false, ""}},  // what it says on stdout is no error message
      {"printf 'bad \\377' >&2; printf ' stdout text \\n'; exit 1", 1, {false, "stdout text"}},
      {"printf '\\300\\200' >&2; printf '\\355\\240\\200'; exit 1", 1, {false, ""}},
      {": > \"$5\"; printf 'dying' >&2; kill -KILL $$", 1, {false, "dying"}},
      // Reading one stream to its end before the other would deadlock here.
      {"head -c 3000000 /dev/zero | tr '\\0' o; head -c 3000000 /dev/zero | tr '\\0' e >&2\n"
       "head -c 1000000 /dev/zero | tr '\\0' o; printf end >&2; exit 1",
       1, {false, std::string(3000000, 'e') + "end"}},
      {"printf '%s|' \"$@\" >&2; exit 1", 42, {false, "-x|-o|-l|42|" + destination + "|"}},
      {"printf '%s|' \"$@\" >&2; exit 1", INT64_MIN, {false, "-x|-o|-l|-9223372036854775808|" + destination + "|"}},
      {"kill -$4 $$; echo survived >&2; exit 1", SIGPIPE, {false, ""}},
      {"kill -$4 $$; echo survived >&2; exit 1", SIGUSR1, {false, ""}},
  };
  auto* previous = std::signal(SIGPIPE, SIG_IGN);
  sigset_t block, saved;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR1);
  sigprocmask(SIG_BLOCK, &block, &saved);
  for (const auto& [body, windowID, expected] : cases) EXPECT_EQ(run(body, windowID), expected) << body.substr(0, 80);
  sigprocmask(SIG_SETMASK, &saved, nullptr);
  std::signal(SIGPIPE, previous);
}

TEST_F(Capture, ProgramThatCannotStartReportsTheSystemsReason) {
  std::ofstream(dir / "plain.txt") << "#!/bin/sh\n";
  for (auto [program, error] : {std::pair{dir / "missing", ENOENT}, std::pair{dir / "plain.txt", EACCES}}) {
    EXPECT_EQ(captureWindow(program, 1, destination),
              (CaptureResult{false, std::string("screencapture_failed: ") + std::strerror(error)}));
  }
}

}  // namespace
}  // namespace halvic
