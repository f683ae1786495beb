// The Linux desktop on a sway-compatible Wayland compositor: windows and focus
// from the layout tree that its IPC socket gives.
#include "desktop_sway.h"

#include <optional>

#include <nlohmann/json.hpp>

#include "linux_desktop.h"
#include "sway_ipc.h"
#include "sway_windows.h"

namespace halvic {
namespace {

class SwayDesktop final : public LinuxDesktop {
 public:
  SwayDesktop(std::string socketPath, std::chrono::milliseconds timeout)
      : socketPath_(std::move(socketPath)), timeout_(timeout) {}

  std::optional<FrontmostApplication> frontmostApplication() override {
    const auto tree = layoutTree();
    return tree ? sway::focusedApplication(*tree) : std::nullopt;
  }

  std::optional<std::vector<LooseValue>> windowList() override {
    const auto tree = layoutTree();
    if (!tree) return std::nullopt;
    return sway::windowRecords(*tree);
  }


 private:
  std::optional<nlohmann::json> layoutTree() {
    // A compositor that let one request go unanswered is not asked again in
    // this run, so a freeze costs the run one wait, not one per question.
    if (silent_) return std::nullopt;
    const sway::IpcReply reply = sway::request(socketPath_, sway::IpcMessage::GetTree, "", timeout_);
    if (!reply.answered) {
      silent_ = true;
      return std::nullopt;
    }
    nlohmann::json tree = nlohmann::json::parse(reply.payload, nullptr, /*allow_exceptions=*/false);
    if (!tree.is_object()) return std::nullopt;  // discarded (not JSON) or not a tree
    return tree;
  }

  std::string socketPath_;
  std::chrono::milliseconds timeout_;
  bool silent_ = false;
};

}  // namespace

std::unique_ptr<Desktop> makeSwayDesktop(std::string socketPath, std::chrono::milliseconds timeout) {
  return std::make_unique<SwayDesktop>(std::move(socketPath), timeout);
}

}  // namespace halvic
