#include "screen_run.h"

#include <cmath>
#include <optional>
#include <string_view>
#include <utility>

#include "window_record.h"
#include "window_selection.h"

namespace halvic {
namespace {

constexpr std::string_view kCaptureMode = "capture_active_window";
constexpr std::string_view kUnsupportedModeDetail = "Yalnizca capture_active_window destekleniyor.";
constexpr std::string_view kNoWindowDetail = "Aktif pencere bulunamadi. Hedef pencereyi one alip tekrar dene.";
constexpr std::string_view kCaptureFailedDetail = "Ekran goruntusu alinamadi.";
constexpr std::string_view kNoScreenRecordingDetail =
    "Ekran kaydi izni verilmemis. Sistem Ayarlari > Gizlilik ve Guvenlik > Ekran ve Sistem Sesi Kaydi "
    "bolumunden bu uygulamaya izin verip tekrar dene.";

// Exactly one separator between the two, whether or not `directory` ends in one.
std::string joinPath(std::string_view directory, std::string_view name) {
  while (directory.size() > 1 && directory.ends_with('/')) directory.remove_suffix(1);
  std::string path(directory);
  if (!path.empty() && !path.ends_with('/')) path += '/';
  path += name;
  return path;
}

// Folding ASCII letters alone finds exactly what a full Unicode lower-case
// mapping would: the only other characters that lower-case to ASCII letters
// are U+212A KELVIN SIGN ("k", in neither phrase) and U+0130 ("i" followed by
// U+0307, which can never be followed by the "s" or "t" both phrases need).
// Bytes of multi-byte UTF-8 sequences are all above 0x7F and stay as they are.
bool speaksOfPermission(std::string_view message) {
  std::string folded(message);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded.find("permission") != std::string::npos || folded.find("not permitted") != std::string::npos;
}

JsonObject boundsObject(const Rect& rect) {
  return {{"x", rect.x}, {"y", rect.y}, {"width", std::fabs(rect.width)}, {"height", std::fabs(rect.height)}};
}

}  // namespace

ScreenRunOutcome runScreenHelper(const std::vector<std::string>& args, Desktop& desktop, std::int32_t currentPID,
                                 const CaptureFunction& captureWindow, const UuidSource& newUuid) {
  const std::string mode = args.size() > 1 ? args[1] : std::string(kCaptureMode);
  // Read before anything else, so that every result, a rejected mode's too, reaches the file.
  std::string outputPath = args.size() > 2 ? args[2] : std::string();

  if (mode != kCaptureMode) {
    return {{{"ok", false}, {"error", "unsupported_mode"}, {"detail", kUnsupportedModeDetail}}, std::move(outputPath)};
  }

  // Read once: its pid and its name below must describe the same application.
  const std::optional<FrontmostApplication> frontmostApp = desktop.frontmostApplication();
  const WindowSelection selection(desktop, currentPID);
  std::optional<LooseMap> window;
  if (frontmostApp && frontmostApp->processIdentifier != currentPID) {
    window = selection.bestWindow(frontmostApp->processIdentifier);
  }
  if (!window) window = selection.fallbackFrontmostWindow();

  const std::string frontmostName = frontmostApp ? frontmostApp->localizedName.value_or("") : "";
  if (!window) {
    if (std::string withheld = desktop.withheldWindowsDetail(); !withheld.empty()) {
      return {{{"ok", false}, {"error", "permission_denied"}, {"detail", std::move(withheld)}, {"owner_name", frontmostName}},
              std::move(outputPath)};
    }
    return {{{"ok", false}, {"error", "no_active_window"}, {"detail", kNoWindowDetail}, {"owner_name", frontmostName}},
            std::move(outputPath)};
  }

  const std::int64_t windowID = cgIntValue(lookup(*window, kCGWindowNumber));
  // An owner name that is present, even empty, wins over the frontmost
  // application's, so a fallback window reports its own owner.
  const LooseValue* ownerValue = lookup(*window, kCGWindowOwnerName);
  const std::string ownerName = ownerValue && ownerValue->asString() ? *ownerValue->asString() : frontmostName;
  const LooseValue* titleValue = lookup(*window, kCGWindowName);
  const std::string windowTitle = titleValue && titleValue->asString() ? *titleValue->asString() : "";
  const LooseValue* boundsValue = lookup(*window, kCGWindowBounds);
  const Rect rect = rectFromBounds(boundsValue && boundsValue->asMap() ? *boundsValue->asMap() : LooseMap{});

  const auto failure = [&](const char* error, std::string detail) -> ScreenRunOutcome {
    return {{{"ok", false},
             {"error", error},
             {"detail", std::move(detail)},
             {"owner_name", ownerName},
             {"window_title", windowTitle}},
            std::move(outputPath)};
  };
  // Asked before any child starts: without the right, the screenshot program
  // may report success with a picture that does not show the window.
  if (!desktop.screenCaptureAllowed()) return failure("permission_denied", std::string(kNoScreenRecordingDetail));

  const std::string screenshotPath =
      joinPath(desktop.temporaryDirectory(), "halvic-screen-" + newUuid() + ".png");
  CaptureResult captureResult = captureWindow(windowID, screenshotPath);

  if (captureResult.success) {
    return {{{"ok", true},
             {"image_path", screenshotPath},
             {"owner_name", ownerName},
             {"window_title", windowTitle},
             {"bounds", boundsObject(rect)},
             {"detail", std::move(captureResult.message)}},
            std::move(outputPath)};
  }

  const char* error = speaksOfPermission(captureResult.message) ? "permission_denied" : "capture_failed";
  return failure(error, captureResult.message.empty() ? std::string(kCaptureFailedDetail)
                                                      : std::move(captureResult.message));
}

}  // namespace halvic
