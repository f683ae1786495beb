// The Linux desktop in a GNOME Shell session on Wayland: windows and focus from the list our extension gives.
#include "desktop_gnome.h"

#include <optional>

#include <nlohmann/json.hpp>

#include "extension_uuid.h"
#include "linux_desktop.h"
#include "shell_windows.h"

namespace halvic {
namespace {

class GnomeDesktop final : public LinuxDesktop {
 public:
  GnomeDesktop(std::unique_ptr<gnome::ShellBus> bus, std::chrono::milliseconds timeout)
      : bus_(std::move(bus)), timeout_(timeout) {}

  std::optional<FrontmostApplication> frontmostApplication() override {
    const auto windows = shellWindows();
    return windows ? gnome::focusedApplication(*windows) : std::nullopt;
  }

  std::optional<std::vector<LooseValue>> windowList() override {
    const auto windows = shellWindows();
    if (!windows) return std::nullopt;
    return gnome::windowRecords(*windows);
  }


 private:
  std::optional<nlohmann::json> shellWindows() {
    const gnome::ShellReply reply = bus_->windows(timeout_);
    if (reply.answer != gnome::ShellAnswer::answered) return std::nullopt;
    nlohmann::json windows = nlohmann::json::parse(reply.text, nullptr, /*allow_exceptions=*/false);
    if (!windows.is_array()) return std::nullopt;
    return windows;
  }

  std::unique_ptr<gnome::ShellBus> bus_;
  std::chrono::milliseconds timeout_;
};

// What the user has to do, in the tools' words (Turkish, without diacritics).
std::string enableDetail(const gnome::ShellReply& probe, std::string_view shellVersion) {
  const std::string uuid(gnome::extensionUuidFor(shellVersion));
  if (probe.answer == gnome::ShellAnswer::refusedUs) {
    return "GNOME Shell uzantisi " + uuid + " bu programi tanimiyor: yalnizca kuruldugu yerdeki yardimcilara yanit "
           "verir. Yardimcilari uzantiyla birlikte yeniden kurup tekrar dene.";
  }
  return "GNOME Shell pencereleri yalnizca " + uuid + " uzantisi acikken gosterir. 'gnome-extensions enable " + uuid +
         "' komutuyla uzantiyi acip oturumu kapatip yeniden ac, sonra tekrar dene.";
}

class ExtensionMissingDesktop final : public LinuxDesktop {
 public:
  ExtensionMissingDesktop(std::unique_ptr<Desktop> inner, std::string detail)
      : inner_(std::move(inner)), detail_(std::move(detail)) {}

  std::optional<FrontmostApplication> frontmostApplication() override { return inner_->frontmostApplication(); }
  std::optional<std::vector<LooseValue>> windowList() override { return inner_->windowList(); }
  std::string withheldWindowsDetail() override { return detail_; }

 private:
  std::unique_ptr<Desktop> inner_;
  std::string detail_;
};

}  // namespace

GnomeShellFound findGnomeShell(std::chrono::milliseconds timeout) {
  gnome::ProbedShell probed = gnome::probeShell(timeout);
  GnomeShellFound found{GnomeShellProbe::absent, std::move(probed.reply), std::move(probed.shellVersion),
                        std::move(probed.bus)};
  switch (found.reply.answer) {
    case gnome::ShellAnswer::answered:
    case gnome::ShellAnswer::failed:  // there, if broken: its window list will say so
      found.probe = GnomeShellProbe::extensionAnswers;
      break;
    case gnome::ShellAnswer::refusedUs:
    case gnome::ShellAnswer::noExtension:
      found.probe = GnomeShellProbe::extensionMissing;
      break;
    case gnome::ShellAnswer::silent:
      found.probe = GnomeShellProbe::silent;
      break;
    case gnome::ShellAnswer::noShell:
      break;
  }
  return found;
}

std::unique_ptr<Desktop> makeGnomeDesktop(std::unique_ptr<gnome::ShellBus> bus, std::chrono::milliseconds timeout) {
  return std::make_unique<GnomeDesktop>(std::move(bus), timeout);
}

std::unique_ptr<Desktop> withExtensionMissing(std::unique_ptr<Desktop> inner, const gnome::ShellReply& probe,
                                              std::string_view shellVersion) {
  return std::make_unique<ExtensionMissingDesktop>(std::move(inner), enableDetail(probe, shellVersion));
}

}  // namespace halvic
