// Long-lived children the end-to-end tests start: servers and windows that
// stay until the test lets them go.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace halvic::e2e {

// A child whose stdin stays open while the object lives; closing it (and a
// SIGTERM after a grace period) ends the child, which is always reaped.
class LiveChild {
 public:
  // `quiet` sends the child's stdout and stderr to /dev/null; otherwise stdout
  // is readable with readLine().
  LiveChild(const std::vector<std::string>& argv, bool quiet = false);
  ~LiveChild();
  LiveChild(const LiveChild&) = delete;
  LiveChild& operator=(const LiveChild&) = delete;

  pid_t pid() const { return pid_; }
  // False once the child has ended (it is reaped then).
  bool running();
  // One line of the child's stdout without its line feed; empty at its end or
  // after `timeoutMs`.
  std::string readLine(int timeoutMs);
  // Closes stdin and waits for the child to end (SIGTERM after a grace period).
  void stop();
  // Ends the child with SIGTERM at once, for servers that never read stdin.
  void terminate();

 private:
  pid_t pid_ = -1;
  int stdinFd_ = -1;
  int stdoutFd_ = -1;
  std::string buffered_;
};

}  // namespace halvic::e2e
