#include "program_launch.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace halvic::testing {
namespace {

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& overrides, bool inherit) {
  std::vector<std::string> entries;
  for (char** entry = environ; inherit && *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (!overrides.count(text.substr(0, text.find('=')))) entries.push_back(text);
  }
  for (const auto& [name, value] : overrides) entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> cStrings(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

void makePipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
}

}  // namespace

RunningProgram::RunningProgram(const Launch& launch) {
  // Everything the child needs is made before fork(): the test may run other
  // threads, so the child only makes system calls until exec.
  std::vector<std::string> argv = launch.argv;
  std::vector<std::string> envp = environmentWith(launch.environment, launch.inheritEnvironment);
  std::vector<char*> cArgv = cStrings(argv);
  std::vector<char*> cEnvp = cStrings(envp);
  const char* directory = launch.workingDirectory ? launch.workingDirectory->c_str() : nullptr;

  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  int stdoutSource = -1;
  if (launch.stdoutTarget == StdoutTarget::Pipe || launch.stdoutTarget == StdoutTarget::ReaderGone) {
    makePipe(out);
    stdoutSource = out[1];
    if (launch.stdoutTarget == StdoutTarget::ReaderGone) {
      close(out[0]);
      out[0] = -1;
    }
  } else if (launch.stdoutTarget == StdoutTarget::DevFull) {
    stdoutSource = open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (stdoutSource < 0) throw std::runtime_error("cannot open /dev/full");
  }
  int logFd = -1;
  int in[2] = {-1, -1};
  if (launch.logFile) {
    makePipe(in);
    logFd = open(launch.logFile->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (logFd < 0) throw std::runtime_error("cannot open " + *launch.logFile);
    stdoutSource = logFd;
    if (out[0] >= 0) close(out[0]);
    if (out[1] >= 0) close(out[1]);
    out[0] = out[1] = -1;
  } else if (!launch.closeStdinAndStderr) {
    makePipe(err);
  }
  const pid_t parent = getpid();

  started_ = std::chrono::steady_clock::now();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    if (launch.closeStdinAndStderr) {
      close(STDIN_FILENO);
      close(STDERR_FILENO);
    } else {
      dup2(logFd >= 0 ? logFd : err[1], STDERR_FILENO);
    }
    if (in[0] >= 0) dup2(in[0], STDIN_FILENO);
    if (stdoutSource >= 0) {
      dup2(stdoutSource, STDOUT_FILENO);
    } else {
      close(STDOUT_FILENO);
    }
    close_range(3, ~0U, 0);
    // A fresh start: default signal dispositions and mask, whatever the test
    // process does with its own.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &defaults, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (launch.fileSizeLimit) {
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      sigaction(SIGXFSZ, &ignore, nullptr);
      const rlimit limit{*launch.fileSizeLimit, *launch.fileSizeLimit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    if (launch.umask) ::umask(*launch.umask);
    if (directory != nullptr && chdir(directory) != 0) _exit(126);
    if (launch.user) {
      if (setgroups(0, nullptr) != 0 || setgid(*launch.user) != 0 || setuid(*launch.user) != 0) _exit(126);
    }
    // Set after the change of user, which clears it.
    if (launch.logFile && (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)) _exit(126);
    execve(cArgv[0], cArgv.data(), cEnvp.data());
    _exit(127);
  }
  if (out[1] >= 0) close(out[1]);
  if (launch.stdoutTarget == StdoutTarget::DevFull) close(stdoutSource);
  if (err[1] >= 0) close(err[1]);
  if (logFd >= 0) close(logFd);
  if (in[0] >= 0) close(in[0]);
  inFd_ = in[1];
  outFd_ = out[0];
  errFd_ = err[0];
}

RunningProgram::~RunningProgram() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (inFd_ >= 0) close(inFd_);
  if (outFd_ >= 0) close(outFd_);
  if (errFd_ >= 0) close(errFd_);
}

bool RunningProgram::running() const {
  if (pid_ <= 0) return false;
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

Outcome RunningProgram::finish(std::chrono::milliseconds deadline) {
  if (inFd_ >= 0) close(inFd_);  // the end of its input
  inFd_ = -1;
  Outcome outcome;
  const auto end = std::chrono::steady_clock::now() + deadline;
  auto left = [&end] {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::int64_t>(0, ms.count()));
  };
  pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  std::string* sinks[2] = {&outcome.out, &outcome.err};
  int open = (outFd_ >= 0) + (errFd_ >= 0);
  while (open > 0 && left() > 0) {
    if (poll(fds, 2, left()) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (left() == 0) {
      kill(pid_, SIGKILL);
      outcome.timedOut = true;
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  pid_ = -1;
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  outcome.exited = WIFEXITED(status);
  outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return outcome;
}

Outcome runToEnd(const Launch& launch, std::chrono::milliseconds deadline) {
  return RunningProgram(launch).finish(deadline);
}

}  // namespace halvic::testing
