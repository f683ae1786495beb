#include "emit.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <thread>

#include "temp_dir.h"

namespace halvic {
namespace {

using testing::readFile;
using testing::TempDir;

// Runs `body` with standard output sent to a file and returns what it printed.
template <typename Body>
std::string captureStdout(const TempDir& dir, Body body) {
  const std::string sink = dir / "stdout.txt";
  int fd = open(sink.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int saved = dup(STDOUT_FILENO);
  dup2(fd, STDOUT_FILENO);
  close(fd);
  body();
  dup2(saved, STDOUT_FILENO);
  close(saved);
  return readFile(sink);
}

TEST(Emit, PrintsOneLineAndCopiesItWithoutTheLineFeed) {
  TempDir dir;
  const std::string out = dir / "x/y/out.json";
  JsonObject result{{"ok", false}, {"error", "unsupported_mode"}, {"detail", "Yalnizca capture_active_window destekleniyor."}};
  std::string printed = captureStdout(dir, [&] { emit(result, out); });
  EXPECT_EQ(printed, R"({"ok":false,"error":"unsupported_mode","detail":"Yalnizca capture_active_window destekleniyor."})" "\n");
  EXPECT_EQ(readFile(out) + "\n", printed);
}

TEST(Emit, UnencodableResultGivesTheFallbackEverywhere) {
  TempDir dir;
  const std::string out = dir / "out.json";
  JsonObject result{{"ok", true}, {"bounds", JsonObject{{"x", std::nan("")}}}};
  std::string printed = captureStdout(dir, [&] { emit(result, out); });
  EXPECT_EQ(printed, std::string(kFallbackJson) + "\n");
  EXPECT_EQ(readFile(out), kFallbackJson);
}

TEST(Emit, WithoutOutputPathWritesNoFile) {
  TempDir dir;
  std::string printed = captureStdout(dir, [&] { emit(JsonObject{{"ok", true}}); });
  EXPECT_EQ(printed, "{\"ok\":true}\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // stdout.txt only
}

TEST(Emit, ClosedReaderDoesNotKillTheProcessAndTheFileIsComplete) {
  TempDir dir;
  const std::string out = dir / "out.json";
  EXPECT_EXIT(
      {
        guardStandardStreams();
        int fds[2];
        if (pipe(fds) != 0) _exit(2);
        close(fds[0]);
        dup2(fds[1], STDOUT_FILENO);
        emit(JsonObject{{"ok", true}}, out);
        _exit(readFile(out) == "{\"ok\":true}" ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(Emit, FullDeviceIsIgnored) {
  EXPECT_EXIT(
      {
        int full = open("/dev/full", O_WRONLY);
        if (full < 0) _exit(0);  // nothing to test without the device
        dup2(full, STDOUT_FILENO);
        emit(JsonObject{{"ok", true}});
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(Emit, ANonBlockingPipeThatFillsUpStillGetsTheWholeLine) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  const std::string title(1 << 20, 'x');  // far more than a pipe holds
  std::string received;
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the pipe fill first
    char buffer[65536];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<std::size_t>(n));
  });
  const int saved = dup(STDOUT_FILENO);
  dup2(fds[1], STDOUT_FILENO);
  close(fds[1]);
  emit(JsonObject{{"title", title}});
  dup2(saved, STDOUT_FILENO);  // closes the last write end, so the reader sees the end
  close(saved);
  reader.join();
  close(fds[0]);
  EXPECT_EQ(received, R"({"title":")" + title + "\"}\n");
}

TEST(GuardStandardStreams, ReopensClosedDescriptorsSoLaterFilesCannotTakeThem) {
  EXPECT_EXIT(
      {
        close(STDIN_FILENO);
        close(STDOUT_FILENO);
        guardStandardStreams();
        int fd = open("/dev/null", O_RDONLY);
        _exit(fd > STDERR_FILENO && fcntl(STDOUT_FILENO, F_GETFD) != -1 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace halvic
