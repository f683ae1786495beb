#include "live_child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace halvic::e2e {
namespace {

std::vector<char*> cArgs(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  return args;
}

void makePipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

int waitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

LiveChild::LiveChild(const std::vector<std::string>& argv, bool quiet) {
  int in[2], out[2];
  makePipe(in);
  makePipe(out);
  auto args = cArgs(argv);
  const int devNull = quiet ? ::open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("cannot start " + argv[0]);
  if (pid_ == 0) {
    // Servers and windows die with the test process, even when it is killed.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    dup2(in[0], STDIN_FILENO);
    dup2(quiet ? devNull : out[1], STDOUT_FILENO);
    if (quiet) dup2(devNull, STDERR_FILENO);
    execve(args[0], args.data(), environ);
    _exit(127);
  }
  if (devNull >= 0) close(devNull);
  close(in[0]);
  close(out[1]);
  stdinFd_ = in[1];
  stdoutFd_ = out[0];
}

LiveChild::~LiveChild() { stop(); }

std::string LiveChild::readLine(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (buffered_.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || stdoutFd_ < 0) return {};
    pollfd fd{stdoutFd_, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[256];
    const ssize_t n = read(stdoutFd_, buffer, sizeof buffer);
    if (n <= 0) return {};
    buffered_.append(buffer, static_cast<std::size_t>(n));
  }
  const std::size_t end = buffered_.find('\n');
  std::string line = buffered_.substr(0, end);
  buffered_.erase(0, end + 1);
  return line;
}

void LiveChild::stop() {
  if (pid_ < 0) return;
  close(stdinFd_);
  close(stdoutFd_);
  int status = 0;
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid_, SIGTERM);
  waitFor(pid_);
  pid_ = -1;
}

bool LiveChild::running() {
  if (pid_ < 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
  close(stdinFd_);
  close(stdoutFd_);
  pid_ = -1;
  return false;
}

void LiveChild::terminate() {
  if (pid_ < 0) return;
  kill(pid_, SIGTERM);
  stop();
}

}  // namespace halvic::e2e
