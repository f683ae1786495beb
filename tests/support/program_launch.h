// Starting a program as a host (or the machine) might, and collecting what it
// wrote and how it ended; killed after a deadline instead of hanging the suite.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace halvic::testing {

enum class StdoutTarget {
  Pipe,        // read by the test
  Closed,      // descriptor 1 not open at all
  ReaderGone,  // a pipe whose read end was closed before the start
  DevFull,     // every write fails with ENOSPC
};

struct Launch {
  std::vector<std::string> argv{};                   // argv[0] is the program's path
  std::map<std::string, std::string> environment{};  // set on top of the test's own
  bool inheritEnvironment = true;                    // false: `environment` is all it gets
  StdoutTarget stdoutTarget = StdoutTarget::Pipe;
  bool closeStdinAndStderr = false;
  std::optional<uid_t> user{};  // this uid, the same gid, no supplementary groups
  std::optional<std::string> workingDirectory{};
  std::optional<mode_t> umask{};
  // With SIGXFSZ ignored, so an oversized write fails with EFBIG as on a full disk.
  std::optional<rlim_t> fileSizeLimit{};
  // Long-lived programs (servers, windows): stdout and stderr are appended to
  // this file, stdin is a pipe open until finish(), and the program is killed
  // when the test process ends, even by a crash.
  std::optional<std::string> logFile{};
};

struct Outcome {
  bool exited = false;  // ended by exit(), not by a signal
  int exitCode = -1;
  int signal = 0;  // the signal that ended it, 0 when it exited
  bool timedOut = false;
  std::string out;
  std::string err;
  double seconds = 0;  // from the start until it was reaped
};

class RunningProgram {  // killed and reaped by the destructor if still running
 public:
  explicit RunningProgram(const Launch& launch);
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  pid_t pid() const { return pid_; }
  bool running() const;  // does not reap
  // Closes its stdin, reads its streams to their ends and reaps it; kills it
  // (and says so) when it is not done by `deadline`.
  Outcome finish(std::chrono::milliseconds deadline = std::chrono::seconds(30));

 private:
  pid_t pid_ = -1;
  int inFd_ = -1, outFd_ = -1, errFd_ = -1;
  std::chrono::steady_clock::time_point started_{};
};

Outcome runToEnd(const Launch& launch, std::chrono::milliseconds deadline = std::chrono::seconds(30));

}  // namespace halvic::testing
