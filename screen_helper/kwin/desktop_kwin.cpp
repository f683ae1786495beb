#include "desktop_kwin.h"

#include <optional>

#include "kwin_windows.h"
#include "linux_desktop.h"
#include "window_list_script.h"

namespace halvic {
namespace {

class KWinDesktop final : public LinuxDesktop {
 public:
  KWinDesktop(kwin::SessionKWin kwin, std::string scriptTemplate, std::chrono::milliseconds timeout)
      : kwin_(std::move(kwin)), scriptTemplate_(std::move(scriptTemplate)), timeout_(timeout) {}

  std::optional<FrontmostApplication> frontmostApplication() override {
    const auto list = windowList_();
    return list ? kwin::focusedApplication(*list) : std::nullopt;
  }

  std::optional<std::vector<LooseValue>> windowList() override {
    const auto list = windowList_();
    if (!list) return std::nullopt;
    return kwin::windowRecords(*list);
  }

  // KWin decides per capture, by the screenshot program's .desktop file; its
  // refusal comes back as that program's message.

 private:
  std::optional<kwin::WindowList> windowList_() {
    // A KWin that let one question go unanswered is not asked again in this
    // run, so a freeze costs the run one wait, not one per question.
    if (silent_) return std::nullopt;
    const auto report = kwin::runWindowListScript(kwin_, scriptTemplate_, kwin::Clock::now() + timeout_);
    if (!report) {
      silent_ = true;
      return std::nullopt;
    }
    return kwin::parseWindowList(*report);
  }

  kwin::SessionKWin kwin_;
  std::string scriptTemplate_;
  std::chrono::milliseconds timeout_;
  bool silent_ = false;
};

}  // namespace

std::unique_ptr<Desktop> makeKWinDesktop(kwin::SessionKWin kwin, std::string scriptTemplate,
                                         std::chrono::milliseconds timeout) {
  return std::make_unique<KWinDesktop>(std::move(kwin), std::move(scriptTemplate), timeout);
}

}  // namespace halvic
