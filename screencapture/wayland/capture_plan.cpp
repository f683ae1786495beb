#include "capture_plan.h"

#include <algorithm>
#include <cmath>

namespace halvic::capture {
namespace {

std::uint32_t pixels(double logical, double scale) {
  return static_cast<std::uint32_t>(std::lround(std::max(0.0, logical * scale)));
}

}  // namespace

CapturePlan planCapture(const sway::LogicalRect& window, const std::vector<OutputPlace>& outputs) {
  struct Overlap {
    const OutputPlace* output;
    sway::LogicalRect area;  // global logical coordinates
  };
  std::vector<Overlap> overlaps;
  CapturePlan plan;
  for (const OutputPlace& output : outputs) {
    const std::int64_t left = std::max(window.x, output.rect.x);
    const std::int64_t top = std::max(window.y, output.rect.y);
    const std::int64_t right = std::min(window.x + window.width, output.rect.x + output.rect.width);
    const std::int64_t bottom = std::min(window.y + window.height, output.rect.y + output.rect.height);
    if (right <= left || bottom <= top || !(output.scale > 0)) continue;
    overlaps.push_back({&output, {left, top, right - left, bottom - top}});
    plan.scale = overlaps.size() == 1 ? output.scale : std::max(plan.scale, output.scale);
  }
  plan.width = pixels(static_cast<double>(window.width), plan.scale);
  plan.height = pixels(static_cast<double>(window.height), plan.scale);
  for (const Overlap& o : overlaps) {
    const auto x0 = pixels(static_cast<double>(o.area.x - window.x), plan.scale);
    const auto y0 = pixels(static_cast<double>(o.area.y - window.y), plan.scale);
    const auto x1 = pixels(static_cast<double>(o.area.x + o.area.width - window.x), plan.scale);
    const auto y1 = pixels(static_cast<double>(o.area.y + o.area.height - window.y), plan.scale);
    if (x1 <= x0 || y1 <= y0) continue;
    const sway::LogicalRect region{o.area.x - o.output->rect.x, o.area.y - o.output->rect.y, o.area.width,
                                   o.area.height};
    plan.pieces.push_back({o.output->name, region, {x0, y0, x1 - x0, y1 - y0}, o.output->transform,
                           o.output->scale});
  }
  return plan;
}

}  // namespace halvic::capture
