#include "window_list_script.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <utility>

#include "window_list_source.h"  // generated from window_list.js

namespace halvic::kwin {
namespace {

constexpr const char* kScripting = "org.kde.kwin.Scripting";
constexpr const char* kReplyPath = "/org/halvic/WindowList";
constexpr std::chrono::milliseconds kUnloadTimeout{500};

constexpr const char* kReplyInterface = R"(<node>
  <interface name="org.halvic.WindowList">
    <method name="Report"><arg type="s" name="windows" direction="in"/></method>
  </interface>
</node>)";

void replaceAll(std::string& text, std::string_view placeholder, std::string_view value) {
  for (std::size_t at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, at + value.size())) {
    text.replace(at, placeholder.size(), value);
  }
}

// A unique bus name is ':' and then letters, digits, '.', '_' and '-' (the
// bus protocol's rule), so it goes into the script's string literal as it is
// and, with its punctuation made '-', names the script.
bool isUniqueName(std::string_view name) {
  return name.size() > 1 && name.front() == ':' &&
         std::all_of(name.begin() + 1, name.end(), [](unsigned char c) {
           return std::isalnum(c) != 0 || c == '.' || c == '_' || c == '-';
         });
}

std::string pluginNameFor(std::string_view uniqueName) {
  std::string name = "halvic-window-list-";
  for (const char c : uniqueName.substr(1)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '-';
  return name;
}

// The script as a file KWin can open: an anonymous memory file, named through
// this process's /proc entry, so nothing is left on disk.
class ScriptFile {
 public:
  explicit ScriptFile(const std::string& text) : fd_(memfd_create("halvic-kwin-script", MFD_CLOEXEC)) {
    std::string_view rest = text;
    while (fd_ >= 0 && !rest.empty()) {
      const ssize_t written = write(fd_, rest.data(), rest.size());
      if (written <= 0) {
        close(std::exchange(fd_, -1));
        break;
      }
      rest.remove_prefix(static_cast<std::size_t>(written));
    }
  }
  ~ScriptFile() {
    if (fd_ >= 0) close(fd_);
  }
  ScriptFile(const ScriptFile&) = delete;
  ScriptFile& operator=(const ScriptFile&) = delete;

  bool valid() const { return fd_ >= 0; }
  std::string path() const { return "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd_); }

 private:
  int fd_;
};

// The object the script reports to: it keeps the first report that comes from
// KWin's own connection.
struct Mailbox {
  std::string kwin;
  std::optional<std::string> report;

  static void handle(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method,
                     GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    auto* mailbox = static_cast<Mailbox*>(data);
    if (sender == nullptr || mailbox->kwin != sender || g_strcmp0(method, "Report") != 0) {
      g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.AccessDenied",
                                                 "only KWin reports here");
      return;
    }
    const gchar* text = nullptr;
    g_variant_get(parameters, "(&s)", &text);
    if (!mailbox->report) mailbox->report = text;
    g_dbus_method_invocation_return_value(invocation, nullptr);
  }
};

class Registration {
 public:
  Registration(Bus& bus, Mailbox& mailbox) : bus_(bus) {
    info_ = g_dbus_node_info_new_for_xml(kReplyInterface, nullptr);
    if (info_ == nullptr) return;
    static const GDBusInterfaceVTable vtable{Mailbox::handle, nullptr, nullptr, {}};
    // Registered with our context as the thread's default, so the handler
    // runs where Bus::runUntil dispatches.
    g_main_context_push_thread_default(bus.context());
    id_ = g_dbus_connection_register_object(bus.connection(), kReplyPath, info_->interfaces[0], &vtable, &mailbox,
                                            nullptr, nullptr);
    g_main_context_pop_thread_default(bus.context());
  }
  ~Registration() {
    if (id_ != 0) g_dbus_connection_unregister_object(bus_.connection(), id_);
    if (info_ != nullptr) g_dbus_node_info_unref(info_);
  }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

  bool valid() const { return id_ != 0; }

 private:
  Bus& bus_;
  GDBusNodeInfo* info_ = nullptr;
  guint id_ = 0;
};

}  // namespace

std::string_view windowListScript() { return kWindowListSource; }

std::optional<std::string> runWindowListScript(SessionKWin& kwin, std::string_view scriptTemplate,
                                               Clock::time_point deadline) {
  Bus& bus = *kwin.bus;
  const std::string unique = bus.uniqueName();
  if (!isUniqueName(unique)) return std::nullopt;
  const std::string pluginName = pluginNameFor(unique);
  std::string text(scriptTemplate);
  replaceAll(text, "@REPLY_SERVICE@", unique);
  replaceAll(text, "@PLUGIN_NAME@", pluginName);
  const ScriptFile file(text);
  Mailbox mailbox{kwin.uniqueName, std::nullopt};
  const Registration registration(bus, mailbox);
  if (!file.valid() || !registration.valid()) return std::nullopt;

  const char* kwinName = kwin.uniqueName.c_str();
  const Variant loaded = bus.call(kwinName, "/Scripting", kScripting, "loadScript",
                                  g_variant_new("(ss)", file.path().c_str(), pluginName.c_str()), "(i)", deadline);
  if (!loaded) {
    // Sent, perhaps not yet read: an unload queued behind it undoes it.
    bus.send(kwinName, "/Scripting", kScripting, "unloadScript", g_variant_new("(s)", pluginName.c_str()),
             Clock::now() + kUnloadTimeout);
    return std::nullopt;
  }
  gint32 id = -1;
  g_variant_get(loaded.get(), "(i)", &id);
  if (id < 0) return std::nullopt;  // the name is taken: not our script
  const Variant started = bus.call(kwinName, "/Scripting", kScripting, "start", nullptr, nullptr, deadline);
  if (started) bus.runUntil([&mailbox] { return mailbox.report.has_value(); }, deadline);
  // A KWin that answered start() answers this too; one that did not is sent
  // the unload without a wait.
  const auto unload = g_variant_new("(s)", pluginName.c_str());
  if (started) {
    bus.call(kwinName, "/Scripting", kScripting, "unloadScript", unload, "(b)", Clock::now() + kUnloadTimeout);
  } else {
    bus.send(kwinName, "/Scripting", kScripting, "unloadScript", unload, Clock::now() + kUnloadTimeout);
  }
  return mailbox.report;
}

}  // namespace halvic::kwin
