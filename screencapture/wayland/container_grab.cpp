#include "container_grab.h"

#include <chrono>

#include "capture_plan.h"
#include "container_place.h"
#include "screencopy.h"
#include "sway_ipc.h"

namespace halvic::capture {
namespace {

constexpr auto kIpcTimeout = std::chrono::seconds(2);
constexpr auto kCopyTimeout = std::chrono::seconds(3);  // a 60 Hz output shows a frame every 17 ms

std::variant<nlohmann::json, std::string> ask(const std::string& socket, sway::IpcMessage type) {
  const sway::IpcReply reply = sway::request(socket, type, {}, kIpcTimeout);
  if (!reply.answered) return reply.error;
  auto json = nlohmann::json::parse(reply.payload, nullptr, false);
  if (json.is_discarded()) return std::string("the compositor's answer is not JSON");
  return json;
}

}  // namespace

std::variant<RgbImage, std::string> grabSwayContainer(const std::string& socket, std::uint32_t id) {
  auto tree = ask(socket, sway::IpcMessage::GetTree);
  if (auto* failure = std::get_if<std::string>(&tree)) return *failure;
  const auto area = visibleContentArea(std::get<nlohmann::json>(tree), id);
  if (auto* failure = std::get_if<std::string>(&area)) return *failure;
  auto outputs = ask(socket, sway::IpcMessage::GetOutputs);
  if (auto* failure = std::get_if<std::string>(&outputs)) return *failure;

  const CapturePlan plan = planCapture(std::get<sway::LogicalRect>(area), activeOutputs(std::get<nlohmann::json>(outputs)));
  if (plan.pieces.empty()) return "window " + std::to_string(id) + " is on no output";
  RgbImage picture;
  picture.width = plan.width;
  picture.height = plan.height;
  picture.pixels.assign(std::size_t{plan.width} * plan.height * 3, 0);
  const std::string failure = copyPieces(plan, picture, std::chrono::steady_clock::now() + kCopyTimeout);
  if (!failure.empty()) return failure;
  return picture;
}

}  // namespace halvic::capture
