// One request and its reply over a compositor's sway-style IPC socket: the
// window list for the screen tool and a window's place for the screenshot
// program both come this way.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace halvic::sway {

enum class IpcMessage : std::uint32_t {
  RunCommand = 0,
  GetWorkspaces = 1,
  GetOutputs = 3,
  GetTree = 4,
  GetVersion = 7,
};

struct IpcReply {
  bool answered = false;  // false: no socket, refused, cut short or too slow
  std::string payload;    // the reply's JSON text when answered
  std::string error;      // why there is no answer, in words, when not answered
};

// The socket the compositor announces in SWAYSOCK, or the empty string.
std::string socketPathFromEnvironment();

// Connects to `socketPath`, sends one message and reads its reply. The whole
// exchange gives up after `timeout`, so a frozen compositor cannot hold the
// caller. Never throws for I/O trouble; a reply larger than 64 MiB is refused.
IpcReply request(std::string_view socketPath, IpcMessage type, std::string_view payload,
                 std::chrono::milliseconds timeout);

// True when a compositor answers a version request on `socketPath` within
// `timeout`: a stale SWAYSOCK left by a compositor that has gone, or a
// frozen one, does not count. The screen tool and the screenshot program
// both pick the window system with it.
bool compositorAnswers(std::string_view socketPath, std::chrono::milliseconds timeout);

}  // namespace halvic::sway
