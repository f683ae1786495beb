// The sway backend's reading of any JSON a compositor (or something posing as
// one on the socket) might send: it must neither crash nor hand the logic a
// record without its layer and alpha, nor a focused application without a pid.
#include <nlohmann/json.hpp>

#include "sway_windows.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const nlohmann::json tree = nlohmann::json::parse(data, data + size, nullptr, /*allow_exceptions=*/false);
  if (tree.is_discarded()) return 0;
  for (const halvic::LooseValue& record : halvic::sway::windowRecords(tree)) {
    const halvic::LooseMap* map = record.asMap();
    if (!map || !lookup(*map, halvic::kCGWindowLayer) || !lookup(*map, halvic::kCGWindowAlpha)) __builtin_trap();
  }
  const auto focused = halvic::sway::focusedApplication(tree);
  if (focused && focused->processIdentifier == 0) __builtin_trap();
  return 0;
}
