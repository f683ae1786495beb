#include "sway_ipc.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace halvic::sway {
namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t kHeaderSize = sizeof kMagic + 2 * sizeof(std::uint32_t);
constexpr std::uint32_t kLargestReply = 64u << 20;

using Clock = std::chrono::steady_clock;

class Socket {
 public:
  Socket() : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// Waits until `fd` is ready for `events` or the deadline passes.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

bool sendAll(int fd, std::string_view bytes, Clock::time_point deadline) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitFor(fd, POLLOUT, deadline)) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool receiveAll(int fd, char* into, std::size_t size, Clock::time_point deadline) {
  while (size > 0) {
    const ssize_t got = ::recv(fd, into, size, 0);
    if (got > 0) {
      into += got;
      size -= static_cast<std::size_t>(got);
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitFor(fd, POLLIN, deadline)) return false;
    } else {
      return false;  // closed before the whole reply came
    }
  }
  return true;
}

std::string header(std::uint32_t payloadSize, std::uint32_t type) {
  std::string bytes(kMagic, sizeof kMagic);
  bytes.append(reinterpret_cast<const char*>(&payloadSize), sizeof payloadSize);
  bytes.append(reinterpret_cast<const char*>(&type), sizeof type);
  return bytes;
}

IpcReply failure(std::string why) { return IpcReply{false, {}, std::move(why)}; }

}  // namespace

std::string socketPathFromEnvironment() {
  const char* path = std::getenv("SWAYSOCK");
  return path ? path : "";
}

IpcReply request(std::string_view socketPath, IpcMessage type, std::string_view payload,
                 std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) {
    return failure("no usable compositor socket");
  }
  std::memcpy(address.sun_path, socketPath.data(), socketPath.size());

  Socket socket;
  if (socket.get() < 0) return failure(std::string("socket: ") + std::strerror(errno));
  // A local connect completes at once or not at all (EAGAIN: a backlog that
  // a frozen compositor no longer drains).
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return failure(std::string("cannot reach the compositor: ") + std::strerror(errno));
  }

  const auto code = static_cast<std::uint32_t>(type);
  const std::string message = header(static_cast<std::uint32_t>(payload.size()), code) +
                              std::string(payload);
  if (!sendAll(socket.get(), message, deadline)) return failure("the compositor took no request");

  char head[kHeaderSize];
  if (!receiveAll(socket.get(), head, sizeof head, deadline)) {
    return failure("the compositor did not answer");
  }
  std::uint32_t size = 0;
  std::uint32_t replyType = 0;
  std::memcpy(&size, head + sizeof kMagic, sizeof size);
  std::memcpy(&replyType, head + sizeof kMagic + sizeof size, sizeof replyType);
  if (std::memcmp(head, kMagic, sizeof kMagic) != 0 || replyType != code) {
    return failure("the compositor's answer is not an IPC reply");
  }
  if (size > kLargestReply) return failure("the compositor's answer is too large");

  IpcReply reply{true, std::string(size, '\0'), {}};
  if (!receiveAll(socket.get(), reply.payload.data(), size, deadline)) {
    return failure("the compositor's answer was cut short");
  }
  return reply;
}

bool compositorAnswers(std::string_view socketPath, std::chrono::milliseconds timeout) {
  return request(socketPath, IpcMessage::GetVersion, {}, timeout).answered;
}

}  // namespace halvic::sway
