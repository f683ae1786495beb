// The C++ side of eds_session.sh: a private Evolution Data Server that lives
// exactly as long as one object, so a failing test still stops every process
// the session began, and the calendar tool run against it.
#pragma once

#include <sys/types.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"

namespace halvic::testing {

class EdsSession {
 public:
  // Starts bus, registry and factory over `root`, whose home/ is seeded.
  explicit EdsSession(std::filesystem::path root) : root_(std::move(root)) {
    const ChildResult started = script("start");
    if (started.exitStatus != 0) {
      error_ = "eds_session.sh start failed: " + started.err;
      return;
    }
    std::istringstream lines(started.out);
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty()) env_.push_back(line);
    }
  }
  // Stopping also resumes a registry that a test left stopped.
  ~EdsSession() { script("stop"); }
  EdsSession(const EdsSession&) = delete;
  EdsSession& operator=(const EdsSession&) = delete;

  bool started() const { return error_.empty() && !env_.empty(); }
  const std::string& error() const { return error_; }
  // The environment that reaches the session: HOME, XDG directories, bus.
  const std::vector<std::string>& env() const { return env_; }
  // The source registry, the service that answers the tool's access request.
  pid_t registryPid() const {
    pid_t pid = 0;
    std::ifstream(root_ / "registry.pid") >> pid;
    return pid;
  }

 private:
  ChildResult script(const char* command) const {
    return runChild({"/bin/bash", EDS_SESSION_SCRIPT, command, root_.string()}, {"PATH=/usr/bin:/bin"});
  }

  std::filesystem::path root_;
  std::vector<std::string> env_;
  std::string error_;
};

// Runs the calendar tool with exactly `env`, plus this process's sanitizer
// settings so a report in the tool fails the test that ran it. The words of
// HALVIC_E2E_HELPER_WRAPPER, when set, go before the tool (valgrind, say:
// scripts/valgrind-calendar.sh); the first must be an absolute path.
inline ChildResult runCalendarHelper(std::vector<std::string> args, std::vector<std::string> env) {
  args.insert(args.begin(), HELPER_PATH);
  if (const char* wrapper = std::getenv("HALVIC_E2E_HELPER_WRAPPER")) {
    std::istringstream words(wrapper);
    std::vector<std::string> prefix{std::istream_iterator<std::string>(words), {}};
    args.insert(args.begin(), prefix.begin(), prefix.end());
  }
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  return runChild(args, env);
}

}  // namespace halvic::testing
