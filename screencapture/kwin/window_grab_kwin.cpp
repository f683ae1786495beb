#include "window_grab_kwin.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "kwin_windows.h"
#include "raw_image.h"
#include "window_list_script.h"

namespace halvic::capture {
namespace {

constexpr auto kListTimeout = std::chrono::seconds(2);
constexpr auto kCaptureTimeout = std::chrono::seconds(4);
constexpr const char* kScreenShot = "org.kde.KWin.ScreenShot2";
constexpr const char* kScreenShotPath = "/org/kde/KWin/ScreenShot2";
// CaptureWindow with the options used here and its "raw" results exist since
// the interface's first version.
constexpr guint32 kLowestVersion = 1;

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

std::variant<kwin::Window, std::string> findWindow(kwin::SessionKWin& kwin, std::uint32_t number) {
  const auto report = kwin::runWindowListScript(kwin, kwin::windowListScript(), kwin::Clock::now() + kListTimeout);
  if (!report) return std::string("KWin did not list its windows in time");
  const auto list = kwin::parseWindowList(*report);
  if (!list) return std::string("KWin's window list could not be read");
  const kwin::Window* found = nullptr;
  for (const kwin::Window& window : list->windows) {
    if (kwin::windowNumber(window.uuid) != number) continue;
    if (found != nullptr) return "window number " + std::to_string(number) + " names more than one window";
    found = &window;
  }
  if (found == nullptr) return "no window " + std::to_string(number);
  if (!kwin::onScreen(*found)) return "window " + std::to_string(number) + " is not on screen";
  return *found;
}

std::string refusal(const kwin::CallFailure& failure, std::uint32_t number) {
  if (failure.name == "org.kde.KWin.ScreenShot2.Error.NoAuthorized") {
    return "KWin denied permission to capture windows: no .desktop file in its applications folders names this "
           "program (X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2)";
  }
  if (failure.name.empty()) return "KWin did not capture window " + std::to_string(number) + " in time";
  return "KWin did not capture window " + std::to_string(number) + ": " + failure.message;
}

guint32 unsignedResult(GVariant* results, const char* key) {
  guint32 value = 0;
  return g_variant_lookup(results, key, "u", &value) ? value : 0;
}

}  // namespace

std::variant<RgbImage, std::string> grabKWinWindow(kwin::SessionKWin& kwin, std::uint32_t number) {
  auto window = findWindow(kwin, number);
  if (auto* failure = std::get_if<std::string>(&window)) return *failure;
  const std::string& uuid = std::get<kwin::Window>(window).uuid;
  kwin::Bus& bus = *kwin.bus;
  const char* kwinName = kwin.uniqueName.c_str();
  const auto deadline = kwin::Clock::now() + kCaptureTimeout;

  kwin::CallFailure failure;
  const kwin::Variant version = bus.call(kwinName, kScreenShotPath, "org.freedesktop.DBus.Properties", "Get",
                                         g_variant_new("(ss)", kScreenShot, "Version"), "(v)", deadline, &failure);
  if (!version) return "KWin offers no window capture (" + std::string(kScreenShot) + "): " + failure.message;
  GVariant* boxed = nullptr;
  g_variant_get(version.get(), "(v)", &boxed);
  const kwin::Variant value(boxed);
  const guint32 number32 = g_variant_is_of_type(value.get(), G_VARIANT_TYPE_UINT32) ? g_variant_get_uint32(value.get()) : 0;
  if (number32 < kLowestVersion) return "KWin's " + std::string(kScreenShot) + " is of an unknown version";

  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return std::string("cannot make a pipe");
  Descriptor readEnd(ends[0]);
  Descriptor writeEnd(ends[1]);
  GUnixFDList* fds = g_unix_fd_list_new();
  const gint handle = g_unix_fd_list_append(fds, writeEnd.get(), nullptr);
  writeEnd.reset();  // KWin's copy is then the only one: the pipe ends when KWin is done

  // The pixels come while, or after, KWin answers: read them as they come.
  std::string bytes;
  bool ended = false;
  GSource* reader = g_unix_fd_source_new(readEnd.get(), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
  struct ReadState {
    int fd;
    std::string* bytes;
    bool* ended;
  } state{readEnd.get(), &bytes, &ended};
  constexpr GUnixFDSourceFunc readSome = [](gint, GIOCondition, gpointer data) -> gboolean {
        auto* s = static_cast<ReadState*>(data);
        char buffer[65536];
        const ssize_t got = read(s->fd, buffer, sizeof buffer);
        if (got > 0) {
          s->bytes->append(buffer, static_cast<std::size_t>(got));
          return G_SOURCE_CONTINUE;
        }
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) return G_SOURCE_CONTINUE;
        *s->ended = true;
        return G_SOURCE_REMOVE;
  };
  g_source_set_callback(reader, G_SOURCE_FUNC(readSome), &state, nullptr);
  g_source_attach(reader, bus.context());

  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "include-decoration", g_variant_new_boolean(FALSE));
  g_variant_builder_add(&options, "{sv}", "include-shadow", g_variant_new_boolean(FALSE));
  g_variant_builder_add(&options, "{sv}", "include-cursor", g_variant_new_boolean(FALSE));
  g_variant_builder_add(&options, "{sv}", "native-resolution", g_variant_new_boolean(TRUE));
  const kwin::Variant reply =
      bus.call(kwinName, kScreenShotPath, kScreenShot, "CaptureWindow",
               g_variant_new("(sa{sv}h)", uuid.c_str(), &options, handle), "(a{sv})", deadline, &failure, fds);
  g_object_unref(fds);
  const bool complete = reply && bus.runUntil([&ended] { return ended; }, deadline);
  g_source_destroy(reader);
  g_source_unref(reader);
  if (!reply) return refusal(failure, number);
  if (!complete) return "KWin did not send the pixels of window " + std::to_string(number) + " in time";

  GVariant* resultsRaw = nullptr;
  g_variant_get(reply.get(), "(@a{sv})", &resultsRaw);
  const kwin::Variant results(resultsRaw);
  const gchar* type = nullptr;
  if (g_variant_lookup(results.get(), "type", "&s", &type) && g_strcmp0(type, "raw") != 0) {
    return "KWin sent a picture of type " + std::string(type) + ", which is not read here";
  }
  const RawLayout layout{unsignedResult(results.get(), "width"), unsignedResult(results.get(), "height"),
                         unsignedResult(results.get(), "stride"), unsignedResult(results.get(), "format")};
  return rgbFromRaw(layout, bytes);
}

}  // namespace halvic::capture
