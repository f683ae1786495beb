// A private headless sway for the Wayland end-to-end tests: its outputs as
// the test asks, run as an unprivileged user (sway refuses root: `nobody` when
// the tests run as root, else the tests' own user) with a private runtime
// directory, and the means to start clients and programs on it, steer it over
// its IPC and wait for windows. Everything it started ends with it.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "program_launch.h"

namespace halvic::wayland {

struct OutputSpec {
  int width = 1280;  // mode, in pixels
  int height = 800;
  int scale = 1;
  int x = 0;  // position, in global logical coordinates
  int y = 0;
  std::string transform = "normal";  // "90", "flipped-180", ... as sway's output command takes it
};

struct SwayOptions {
  std::vector<OutputSpec> outputs{OutputSpec{}};  // named HEADLESS-1, HEADLESS-2, ...
  bool xwayland = false;                          // started with the compositor, DISPLAY set
};

class SwaySession {
 public:
  explicit SwaySession(SwayOptions options = {});  // throws when sway does not come up in 20 s
  ~SwaySession();
  SwaySession(const SwaySession&) = delete;
  SwaySession& operator=(const SwaySession&) = delete;

  uid_t user() const { return user_; }
  pid_t pid() const;  // the compositor's
  const std::string& ipcSocket() const { return ipcSocket_; }
  // SWAYSOCK, WAYLAND_DISPLAY, XDG_RUNTIME_DIR, HOME, PATH, SHELL, DISPLAY
  // with Xwayland, and the sanitizers' options when the tests have them.
  std::map<std::string, std::string> environment() const;

  // Runs IPC commands ("workspace number 3", "[con_id=7] floating enable");
  // throws with sway's error when one fails.
  void command(const std::string& commands);
  nlohmann::json tree();
  nlohmann::json outputs();

  // A launch of `argv` as the session's user in the session's environment
  // only; a program outside /usr is run from a copy the user can reach.
  testing::Launch launch(std::vector<std::string> argv);
  // A client that stays until the returned handle goes (SIGKILL then); its
  // output goes to the session's log.
  std::unique_ptr<testing::RunningProgram> startClient(std::vector<std::string> argv);
  // The container id of the first window whose app_id, X11 class or title is
  // `name` once it has a content area; throws after `timeout`.
  std::int64_t waitForWindow(const std::string& name,
                             std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // waitForWindow for a colour_window with app id `appId`, and then until
  // the screen shows it at the size the layout tree gives it: what a capture
  // finds from then on is the window as the tree describes it.
  std::int64_t waitForColourWindow(const std::string& appId,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // A fresh directory only the session's user may enter (for output files).
  std::filesystem::path userDirectory();
  // The private runtime directory (XDG_RUNTIME_DIR).
  std::filesystem::path runtimeDirectory() const { return base_ / "run"; }
  // sway's and the clients' log, for a failing test to show.
  std::string log() const;

 private:
  std::filesystem::path reachable(const std::string& program);

  uid_t user_;
  std::filesystem::path base_;  // bin/, run/ (XDG_RUNTIME_DIR), home/, config, log
  std::string ipcSocket_;
  std::string waylandDisplay_;
  std::string xDisplay_;
  std::unique_ptr<testing::RunningProgram> sway_;
  std::map<std::string, std::filesystem::path> copies_;
  int directories_ = 0;
};

// One session for a whole test binary: AddGlobalTestEnvironment(new
// SwaySessionEnvironment(options)), then SwaySessionEnvironment::session().
class SwaySessionEnvironment : public ::testing::Environment {
 public:
  explicit SwaySessionEnvironment(SwayOptions options) : options_(std::move(options)) {}
  void SetUp() override;
  void TearDown() override;
  static SwaySession& session();

 private:
  SwayOptions options_;
  static std::unique_ptr<SwaySession> session_;
};

// The container id of the first window in `tree` whose app_id, X11 class or
// title is `name` and that has a content area; -1 when there is none.
std::int64_t windowNamed(const nlohmann::json& tree, const std::string& name);

}  // namespace halvic::wayland
