// Starting a program as a host (or the machine) might and collecting what it wrote and how it ended, in bounded time.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace halvic::testing {

// Pipe: read by the test. Closed: descriptor 1 not open. ReaderGone: a pipe without reader. DevFull: ENOSPC.
enum class StdoutTarget { Pipe, Closed, ReaderGone, DevFull };

struct Launch {
  std::vector<std::string> argv{};                   // argv[0] is the program's path
  std::map<std::string, std::string> environment{};  // set on top of the test's own
  bool inheritEnvironment = true;                    // false: `environment` is all it gets
  StdoutTarget stdoutTarget = StdoutTarget::Pipe;
  bool closeStdinAndStderr = false;
  std::optional<uid_t> user{};  // this uid, the same gid, no supplementary groups
  std::optional<std::string> workingDirectory{};
  std::optional<mode_t> umask{};
  std::optional<rlim_t> fileSizeLimit{};  // with SIGXFSZ ignored, so an oversized write fails with EFBIG
  // Long-lived programs: stdout and stderr appended to it, stdin a pipe until finish(), killed with the test process.
  std::optional<std::string> logFile{};
};

struct Outcome {
  bool exited = false;  // ended by exit(), not by a signal
  int exitCode = -1;
  int signal = 0;  // the signal that ended it, 0 when it exited
  bool timedOut = false;
  std::string out, err;
  double seconds = 0;  // from the start until it was reaped
};

class RunningProgram {  // killed and reaped by the destructor if still running
 public:
  explicit RunningProgram(const Launch& launch) {
    // All is made before fork(): the test may run other threads, so the child only makes system calls until exec.
    std::vector<std::string> envp;
    for (char** entry = environ; launch.inheritEnvironment && *entry != nullptr; ++entry) {
      const std::string text = *entry;
      if (!launch.environment.contains(text.substr(0, text.find('=')))) envp.push_back(text);
    }
    for (const auto& [name, value] : launch.environment) envp.push_back(name + "=" + value);
    std::vector<char*> strings;  // argv, a null, envp, a null
    for (const auto* list : {&launch.argv, &std::as_const(envp)}) {
      for (const std::string& s : *list) strings.push_back(const_cast<char*>(s.c_str()));
      strings.push_back(nullptr);
    }
    using enum StdoutTarget;
    const bool logged = launch.logFile.has_value(), closed = launch.closeStdinAndStderr;
    int in[2], out[2], err[2];  // the unused ones end at once
    const bool piped = pipe2(in, O_CLOEXEC) == 0 && pipe2(out, O_CLOEXEC) == 0 && pipe2(err, O_CLOEXEC) == 0;
    if (launch.stdoutTarget == ReaderGone) close(std::exchange(out[0], -1));
    const std::string fileName = logged ? *launch.logFile : launch.stdoutTarget == DevFull ? "/dev/full" : "";
    const int file = fileName.empty() ? -1 : open(fileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (!piped || (!fileName.empty() && file < 0)) throw std::runtime_error("no pipes, or cannot open " + fileName);
    const int standard[3] = {closed ? -1 : logged ? in[0] : STDIN_FILENO,
                             file >= 0 ? file : launch.stdoutTarget == Closed ? -1 : out[1],
                             logged ? file : closed ? -1 : err[1]};
    const rlimit limit{launch.fileSizeLimit.value_or(0), launch.fileSizeLimit.value_or(0)};
    const pid_t parent = getpid();
    if ((pid_ = fork()) < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      for (int i = 0; i < 3; ++i) {
        if (standard[i] < 0) close(i);
        if (standard[i] >= 0) dup2(standard[i], i);
      }
      close_range(3, ~0U, 0);
      signal(SIGPIPE, SIG_DFL);  // the default disposition and mask, whatever the test process has
      const sigset_t none{};
      sigprocmask(SIG_SETMASK, &none, nullptr);
      if (launch.fileSizeLimit && (signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &limit) != 0))
        _exit(126);
      if (launch.umask) ::umask(*launch.umask);
      if (launch.workingDirectory && chdir(launch.workingDirectory->c_str()) != 0) _exit(126);
      if (launch.user && (setgroups(0, nullptr) != 0 || setgid(*launch.user) != 0 || setuid(*launch.user) != 0))
        _exit(126);
      // Set after the change of user, which clears it.
      if (logged && (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)) _exit(126);
      execve(strings[0], strings.data(), strings.data() + launch.argv.size() + 1);
      _exit(127);
    }
    for (const int fd : {in[0], out[1], err[1]}) close(fd);
    if (file >= 0) close(file);
    fds_ = {in[1], out[0], err[0], static_cast<int>(syscall(SYS_pidfd_open, pid_, 0))};
  }
  ~RunningProgram() {
    if (pid_ > 0 && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
    for (const int fd : fds_)
      if (fd >= 0) close(fd);
  }
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  pid_t pid() const { return pid_; }
  bool running() const { return poll(std::array{pollfd{fds_[3], POLLIN, 0}}.data(), 1, 0) == 0; }  // does not reap
  // Closes its stdin, reads its streams to their ends and reaps it; kills it (and says so) when not done by `deadline`.
  Outcome finish(std::chrono::milliseconds deadline = std::chrono::seconds(30)) {
    if (fds_[0] >= 0) close(std::exchange(fds_[0], -1));
    Outcome outcome;
    const auto end = std::chrono::steady_clock::now() + deadline;
    pollfd polled[3] = {{fds_[1], POLLIN, 0}, {fds_[2], POLLIN, 0}, {fds_[3], POLLIN, 0}};  // until it has ended too
    std::string* sinks[2] = {&outcome.out, &outcome.err};
    while (polled[0].fd >= 0 || polled[1].fd >= 0 || polled[2].fd >= 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0 || poll(polled, 3, static_cast<int>(left)) < 0) break;
      for (int i = 0; i < 3; ++i) {
        char buffer[65536];
        const ssize_t n = polled[i].revents && i < 2 ? read(polled[i].fd, buffer, sizeof buffer) : 0;
        if (n > 0) sinks[i]->append(buffer, static_cast<std::size_t>(n));
        if (polled[i].revents && n <= 0) polled[i].fd = -1;
      }
    }
    outcome.timedOut = polled[2].fd >= 0;
    if (outcome.timedOut) kill(pid_, SIGKILL);
    int status = 0;
    waitpid(std::exchange(pid_, -1), &status, 0);
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    outcome.exited = WIFEXITED(status);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return outcome;
  }

 private:
  pid_t pid_ = -1;
  std::array<int, 4> fds_{};  // its stdin, stdout and stderr pipes, and its pidfd
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

inline Outcome runToEnd(const Launch& launch, std::chrono::milliseconds deadline = std::chrono::seconds(30)) {
  return RunningProgram(launch).finish(deadline);
}

// A helper behind the words of HALVIC_E2E_HELPER_WRAPPER when set (by the valgrind scripts; an absolute path first).
inline bool helperIsWrapped() { return std::getenv("HALVIC_E2E_HELPER_WRAPPER") != nullptr; }
inline std::vector<std::string> helperCommand(const std::string& helper, const std::vector<std::string>& args) {
  std::istringstream words(helperIsWrapped() ? std::getenv("HALVIC_E2E_HELPER_WRAPPER") : "");
  std::vector<std::string> argv;
  for (std::string word; words >> word;) argv.push_back(word);
  argv.push_back(helper);
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

}  // namespace halvic::testing
