// The C++ side of eds_session.sh: a private Evolution Data Server that lives
// exactly as long as one object, so a failing test still stops every process
// the session began, and the calendar tool run against it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "helper_command.h"
#include "program_launch.h"

namespace halvic::testing {

// Longer than any ctest time-out of these suites, which stays the only limit:
// a slow run, under valgrind say, must not be cut short here.
constexpr std::chrono::minutes kNoDeadline{15};

class EdsSession {
 public:
  // Starts bus, registry and factory over `root`, whose home/ is seeded.
  explicit EdsSession(std::filesystem::path root) : root_(std::move(root)) {
    const Outcome started = script("start");
    if (started.exitCode != 0) {
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
  pid_t registryPid() const { return pidIn("registry.pid"); }
  // The calendar factory, the service that reads the calendars' events.
  pid_t factoryPid() const { return pidIn("factory.pid"); }

 private:
  Outcome script(const char* command) const {
    Launch launch;
    launch.argv = {"/bin/bash", EDS_SESSION_SCRIPT, command, root_.string()};
    launch.environment = {{"PATH", "/usr/bin:/bin"}};
    launch.inheritEnvironment = false;
    return runToEnd(launch, kNoDeadline);
  }

  pid_t pidIn(const char* file) const {
    pid_t pid = 0;
    std::ifstream(root_ / file) >> pid;
    return pid;
  }

  std::filesystem::path root_;
  std::vector<std::string> env_;
  std::string error_;
};

// The calendar tool with exactly `env` (NAME=VALUE entries), plus this
// process's sanitizer settings so a report in the tool fails the test that ran
// it, behind HALVIC_E2E_HELPER_WRAPPER when that is set (valgrind, say:
// scripts/valgrind-calendar.sh).
inline Launch calendarHelperLaunch(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  Launch launch;
  launch.argv = helperCommand(HELPER_PATH, args);
  for (const std::string& entry : env) {
    const std::size_t equals = entry.find('=');
    launch.environment.emplace(entry.substr(0, equals), entry.substr(equals + 1));
  }
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) launch.environment.emplace(name, value);
  }
  // libical (not instrumented) walks its text with strchr and the like; strict
  // string checks make every such call scan the whole rest of the text, so a
  // 1 MiB title took 7.8 s instead of 0.6 s to read, close to the query's bound.
  if (auto asan = launch.environment.find("ASAN_OPTIONS"); asan != launch.environment.end()) {
    asan->second += ":strict_string_checks=0";
  }
  launch.inheritEnvironment = false;
  return launch;
}

// Runs the calendar tool as calendarHelperLaunch sets it up, to its end.
inline Outcome runCalendarHelper(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  return runToEnd(calendarHelperLaunch(args, env), kNoDeadline);
}

}  // namespace halvic::testing
