// A private X session for the end-to-end tests: Xvfb on a free display and an
// EWMH window manager (openbox), started before the first test of the process
// and stopped after the last, with DISPLAY pointing at it meanwhile.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "live_child.h"

namespace halvic::e2e {

inline constexpr int kScreenWidth = 1600;
inline constexpr int kScreenHeight = 1000;

// Starts Xvfb with `options` added on a display nobody holds and sets
// `display` to its name.
std::unique_ptr<LiveChild> startXServer(const std::vector<std::string>& options, std::string& display);

class XSession : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;

  // The display name, ":N".
  static const std::string& display();
  // For tests of the no-window-manager path; startWindowManager() restores it.
  static void stopWindowManager();
  static void startWindowManager();

 private:
  static std::unique_ptr<LiveChild> server_;
  static std::unique_ptr<LiveChild> windowManager_;
  static std::string display_;
};

// Puts DISPLAY (or any variable) back as it was when the guard ends.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);  // nullptr unsets
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_;
  std::string old_;
};

}  // namespace halvic::e2e
