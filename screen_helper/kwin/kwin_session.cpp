#include "kwin_session.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace halvic::kwin {
namespace {

// The process that listens on the Unix socket at `path`, as the kernel
// recorded it when the socket began to listen; nullopt when nothing accepts
// a connection there by `deadline`.
std::optional<pid_t> listenerOf(const std::string& path, Clock::time_point deadline) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return std::nullopt;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return std::nullopt;
  std::optional<pid_t> listener;
  int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (rc != 0 && errno == EAGAIN) {
    // A full backlog: wait, bounded, for room.
    pollfd writable{fd, POLLOUT, 0};
    rc = poll(&writable, 1, millisecondsUntil(deadline)) == 1 && (writable.revents & POLLOUT) ? 0 : -1;
  }
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (rc == 0 && getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 && credentials.pid > 0) {
    listener = credentials.pid;
  }
  close(fd);
  return listener;
}

// The parent of process `pid` from /proc, or 0.
pid_t parentOf(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  // "pid (comm) state ppid ...": comm may hold blanks and parentheses.
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(line.substr(close + 1));
  std::string state;
  long parent = 0;
  rest >> state >> parent;
  return rest ? static_cast<pid_t>(parent) : 0;
}

// The file name of process `pid`'s executable, or the empty string.
std::string executableName(pid_t pid) {
  std::error_code error;
  const auto path = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
  return error ? std::string() : path.filename().string();
}

}  // namespace

bool servesDisplay(pid_t displayListener, pid_t kwin, pid_t kwinWrapper) {
  return displayListener > 0 && (displayListener == kwin || displayListener == kwinWrapper);
}

std::string waylandSocketPath(const char* waylandDisplay, const char* runtimeDirectory) {
  const std::string display = waylandDisplay != nullptr && waylandDisplay[0] != '\0' ? waylandDisplay : "wayland-0";
  if (display.front() == '/') return display;
  if (runtimeDirectory == nullptr || runtimeDirectory[0] != '/') return {};
  return std::string(runtimeDirectory) + "/" + display;
}

std::optional<SessionKWin> findSessionKWin(Clock::time_point deadline) {
  const std::string socket = waylandSocketPath(std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_RUNTIME_DIR"));
  if (socket.empty()) return std::nullopt;
  const std::optional<pid_t> listener = listenerOf(socket, deadline);
  if (!listener) return std::nullopt;
  SessionKWin kwin{Bus::connect(deadline), {}};
  if (!kwin.bus) return std::nullopt;
  static constexpr const char* kBus = "org.freedesktop.DBus";
  const Variant owner = kwin.bus->call(kBus, "/org/freedesktop/DBus", kBus, "GetNameOwner",
                                       g_variant_new("(s)", "org.kde.KWin"), "(s)", deadline);
  if (!owner) return std::nullopt;
  const gchar* unique = nullptr;
  g_variant_get(owner.get(), "(&s)", &unique);
  kwin.uniqueName = unique;
  const Variant pid = kwin.bus->call(kBus, "/org/freedesktop/DBus", kBus, "GetConnectionUnixProcessID",
                                     g_variant_new("(s)", unique), "(u)", deadline);
  if (!pid) return std::nullopt;
  guint32 kwinPid = 0;
  g_variant_get(pid.get(), "(u)", &kwinPid);
  const auto process = static_cast<pid_t>(kwinPid);
  const pid_t parent = parentOf(process);
  const pid_t wrapper = parent > 0 && executableName(parent) == "kwin_wayland_wrapper" ? parent : 0;
  if (!servesDisplay(*listener, process, wrapper)) return std::nullopt;
  return kwin;
}

}  // namespace halvic::kwin
