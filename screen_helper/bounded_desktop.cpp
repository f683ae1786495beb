#include "bounded_desktop.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "linux_desktop.h"

namespace halvic {
namespace {

class BoundedDesktop final : public LinuxDesktop {
 public:
  BoundedDesktop(std::unique_ptr<Desktop> inner, std::chrono::milliseconds deadline)
      : inner_(std::move(inner)), deadline_(deadline) {}

  ~BoundedDesktop() override {
    // Letting go of the inner desktop talks to the window system too (Xlib
    // waits for the server's answer before it closes), so it has the same
    // deadline: a server that froze after the last question, during the
    // capture, must not keep the process from ending. A desktop that a thread
    // may still be inside is left to that thread, reachable from it, until
    // the process ends; so is one no thread could be made for.
    Desktop* inner = inner_.release();
    if (abandoned_) return;
    try {
      static_cast<void>(bounded(inner, [](Desktop& d) {
        delete &d;
        return std::optional<bool>(true);
      }));
    } catch (...) {  // a destructor must not throw: no thread, no memory
    }
  }

  std::optional<FrontmostApplication> frontmostApplication() override {
    return bounded(inner_.get(), [](Desktop& d) { return d.frontmostApplication(); });
  }

  std::optional<std::vector<LooseValue>> windowList() override {
    return bounded(inner_.get(), [](Desktop& d) { return d.windowList(); });
  }

  std::string withheldWindowsDetail() override { return inner_->withheldWindowsDetail(); }

 private:
  // The answer of `call` on `inner`, run on a thread of its own, or nullopt
  // when it misses the deadline.
  template <typename Call>
  auto bounded(Desktop* inner, Call call) -> decltype(call(std::declval<Desktop&>())) {
    using Answer = decltype(call(std::declval<Desktop&>()));
    if (abandoned_) return std::nullopt;
    struct Shared {
      std::mutex mutex;
      std::condition_variable done;
      bool finished = false;
      Answer answer;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, inner, call] {
      Answer answer = call(*inner);
      std::lock_guard lock(shared->mutex);
      shared->answer = std::move(answer);
      shared->finished = true;
      shared->done.notify_one();
    }).detach();
    std::unique_lock lock(shared->mutex);
    if (!shared->done.wait_for(lock, deadline_, [&] { return shared->finished; })) {
      abandoned_ = true;
      return std::nullopt;
    }
    return std::move(shared->answer);
  }

  std::unique_ptr<Desktop> inner_;
  std::chrono::milliseconds deadline_;
  bool abandoned_ = false;
};

}  // namespace

std::unique_ptr<Desktop> withDeadline(std::unique_ptr<Desktop> inner, std::chrono::milliseconds deadline) {
  return std::make_unique<BoundedDesktop>(std::move(inner), deadline);
}

}  // namespace halvic
