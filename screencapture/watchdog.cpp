#include "watchdog.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace halvic::capture {
namespace {

// stderr as it was at the start: the X11 grab silences descriptor 2 while
// Xlib opens the display, which is where a stuck server holds it.
int reportTo = STDERR_FILENO;

void onDeadline(int) {
  // Only async-signal-safe calls here.
  static constexpr char kMessage[] = "halvic_screencapture: the window system did not answer in time\n";
  [[maybe_unused]] const ssize_t ignored = ::write(reportTo, kMessage, sizeof kMessage - 1);
  ::_exit(1);
}

}  // namespace

void startWatchdog(unsigned seconds) {
  const int saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (saved >= 0) reportTo = saved;
  struct sigaction action {};
  action.sa_handler = onDeadline;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, nullptr);
  alarm(seconds);
}

void stopWatchdog() { alarm(0); }

}  // namespace halvic::capture
