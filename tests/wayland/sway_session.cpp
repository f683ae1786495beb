#include "sway_session.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "sway_ipc.h"
#include "sway_tree.h"

namespace halvic::wayland {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr uid_t kNobody = 65534;
constexpr auto kIpcTimeout = std::chrono::seconds(5);

void makeDirectory(const fs::path& path, mode_t mode, uid_t owner) {
  fs::create_directory(path);
  if (chown(path.c_str(), owner, owner) != 0 || chmod(path.c_str(), mode) != 0) {
    throw std::runtime_error("cannot prepare " + path.string());
  }
}

std::string config(const SwayOptions& options) {
  std::ostringstream text;
  // `force` starts Xwayland with the compositor rather than at the first X client.
  text << "xwayland " << (options.xwayland ? "force" : "disable") << "\n";
  for (std::size_t i = 0; i < options.outputs.size(); ++i) {
    const OutputSpec& o = options.outputs[i];
    const std::string name = "HEADLESS-" + std::to_string(i + 1);
    text << "output " << name << " mode " << o.width << "x" << o.height << " position " << o.x << " " << o.y
         << " scale " << o.scale << " transform " << o.transform << "\n";
    // Workspace n starts on output n, so tests know where a workspace shows.
    text << "workspace " << i + 1 << " output " << name << "\n";
  }
  return text.str();
}

// Waits until `ready` holds, sway still runs and the deadline has not passed.
template <typename Ready>
bool waitUntil(Ready ready, std::chrono::milliseconds timeout, testing::RunningProgram* sway = nullptr) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    if (sway != nullptr && !sway->running()) return false;
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

nlohmann::json ask(const std::string& socket, sway::IpcMessage type, const std::string& payload = {}) {
  const sway::IpcReply reply = sway::request(socket, type, payload, kIpcTimeout);
  if (!reply.answered) throw std::runtime_error("sway IPC: " + reply.error);
  return nlohmann::json::parse(reply.payload);
}

bool hasString(const nlohmann::json& object, const char* key, const std::string& value) {
  if (!object.is_object()) return false;
  const auto it = object.find(key);
  return it != object.end() && it->is_string() && it->get<std::string>() == value;
}

bool named(const nlohmann::json& node, const std::string& name) {
  const auto properties = node.find("window_properties");
  return hasString(node, "app_id", name) || hasString(node, "name", name) ||
         (properties != node.end() && hasString(*properties, "class", name));
}

}  // namespace

std::int64_t windowNamed(const nlohmann::json& tree, const std::string& name) {
  std::vector<const nlohmann::json*> pending{&tree};
  while (!pending.empty()) {
    const nlohmann::json& node = *pending.back();
    pending.pop_back();
    if (!node.is_object()) continue;
    if (named(node, name) && node.contains("pid") && sway::contentArea(node)) return node.at("id");
    for (const char* children : {"nodes", "floating_nodes"}) {
      const auto it = node.find(children);
      if (it == node.end() || !it->is_array()) continue;
      for (const auto& child : *it) pending.push_back(&child);
    }
  }
  return -1;
}

SwaySession::SwaySession(SwayOptions options) : user_(geteuid() == 0 ? kNobody : geteuid()) {
  std::string pattern = (fs::temp_directory_path() / "halvic-sway-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  base_ = pattern;
  chmod(base_.c_str(), 0755);
  makeDirectory(base_ / "bin", 0755, geteuid());
  makeDirectory(base_ / "run", 0700, user_);
  makeDirectory(base_ / "home", 0700, user_);
  std::ofstream(base_ / "config") << config(options);

  testing::Launch launch;
  launch.argv = {SWAY_PATH, "--config", (base_ / "config").string()};
  launch.inheritEnvironment = false;
  launch.environment = {
      {"XDG_RUNTIME_DIR", (base_ / "run").string()},
      {"HOME", (base_ / "home").string()},
      {"PATH", "/usr/bin:/bin"},
      {"WLR_BACKENDS", "headless"},
      {"WLR_RENDERER", "pixman"},
      {"WLR_LIBINPUT_NO_DEVICES", "1"},
      {"WLR_HEADLESS_OUTPUTS", std::to_string(options.outputs.size())},
  };
  launch.user = user_;
  launch.workingDirectory = base_.string();
  launch.logFile = (base_ / "log").string();
  sway_ = std::make_unique<testing::RunningProgram>(launch);

  const fs::path run = base_ / "run";
  ipcSocket_ = (run / ("sway-ipc." + std::to_string(user_) + "." + std::to_string(sway_->pid()) + ".sock")).string();
  const bool up = waitUntil(
      [&] {
        if (!sway::compositorAnswers(ipcSocket_, std::chrono::milliseconds(500))) return false;
        for (const auto& entry : fs::directory_iterator(run)) {
          const std::string file = entry.path().filename().string();
          if (file.starts_with("wayland-") && entry.is_socket()) waylandDisplay_ = file;
        }
        return !waylandDisplay_.empty() && outputs().size() == options.outputs.size();
      },
      std::chrono::seconds(20), sway_.get());
  if (!up) throw std::runtime_error("sway did not come up:\n" + log());

  if (options.xwayland) {
    // sway sets DISPLAY in its own environment once Xwayland is ready; its
    // `exec` children see it.
    const fs::path shown = run / "display";
    const bool ready = waitUntil(
        [&] {
          command("exec echo \"$DISPLAY\" > '" + shown.string() + "'");
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          std::istringstream(readFile(shown)) >> xDisplay_;
          return !xDisplay_.empty();
        },
        std::chrono::seconds(20), sway_.get());
    if (!ready) throw std::runtime_error("Xwayland did not come up:\n" + log());
  }
}

SwaySession::~SwaySession() {
  if (sway_) {
    // Xwayland and the clients leave with their compositor.
    kill(sway_->pid(), SIGTERM);
    sway_->finish(std::chrono::seconds(5));
  }
  std::error_code ignored;
  fs::remove_all(base_, ignored);
}

pid_t SwaySession::pid() const { return sway_->pid(); }

std::map<std::string, std::string> SwaySession::environment() const {
  std::map<std::string, std::string> env = {
      {"SWAYSOCK", ipcSocket_},
      {"WAYLAND_DISPLAY", waylandDisplay_},
      {"XDG_RUNTIME_DIR", (base_ / "run").string()},
      {"HOME", (base_ / "home").string()},
      {"PATH", "/usr/bin:/bin"},
      {"SHELL", "/bin/sh"},  // what a terminal runs: nobody's login shell refuses
  };
  if (!xDisplay_.empty()) env["DISPLAY"] = xDisplay_;
  // Programs built with the sanitizers report as the suite asks.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env[name] = value;
  }
  return env;
}

void SwaySession::command(const std::string& commands) {
  const nlohmann::json results = ask(ipcSocket_, sway::IpcMessage::RunCommand, commands);
  for (const auto& result : results) {
    if (!result.value("success", false)) throw std::runtime_error("sway refused \"" + commands + "\": " + result.dump());
  }
}

nlohmann::json SwaySession::tree() { return ask(ipcSocket_, sway::IpcMessage::GetTree); }

nlohmann::json SwaySession::outputs() { return ask(ipcSocket_, sway::IpcMessage::GetOutputs); }

fs::path SwaySession::reachable(const std::string& program) {
  if (program.starts_with("/usr/")) return program;
  auto& copy = copies_[program];
  if (copy.empty()) {
    copy = base_ / "bin" / (std::to_string(copies_.size()) + "-" + fs::path(program).filename().string());
    fs::copy_file(program, copy);
    chmod(copy.c_str(), 0755);
  }
  return copy;
}

testing::Launch SwaySession::launch(std::vector<std::string> argv) {
  testing::Launch launch;
  argv.at(0) = reachable(argv.at(0)).string();
  launch.argv = std::move(argv);
  launch.environment = environment();
  launch.inheritEnvironment = false;
  launch.user = user_;
  launch.workingDirectory = (base_ / "home").string();
  return launch;
}

std::unique_ptr<testing::RunningProgram> SwaySession::startClient(std::vector<std::string> argv) {
  testing::Launch client = launch(std::move(argv));
  client.logFile = (base_ / "log").string();
  return std::make_unique<testing::RunningProgram>(client);
}

std::int64_t SwaySession::waitForWindow(const std::string& name, std::chrono::milliseconds timeout) {
  std::int64_t id = -1;
  if (!waitUntil([&] { return (id = windowNamed(tree(), name)) >= 0; }, timeout, sway_.get())) {
    throw std::runtime_error("no window \"" + name + "\" appeared:\n" + log());
  }
  return id;
}

std::int64_t SwaySession::waitForColourWindow(const std::string& appId, std::chrono::milliseconds timeout) {
  const std::int64_t id = waitForWindow(appId, timeout);
  const fs::path shown = base_ / "run" / ("colour-window-" + appId);
  const bool ready = waitUntil(
      [&] {
        const auto tree = this->tree();
        const nlohmann::json* node = sway::findNode(tree, id);
        const auto area = node ? sway::contentArea(*node) : std::nullopt;
        return area && readFile(shown) == std::to_string(area->width) + "x" + std::to_string(area->height);
      },
      timeout, sway_.get());
  if (!ready) throw std::runtime_error("window \"" + appId + "\" was not shown at its size:\n" + log());
  return id;
}

fs::path SwaySession::userDirectory() {
  const fs::path path = base_ / ("files-" + std::to_string(++directories_));
  makeDirectory(path, 0700, user_);
  return path;
}

std::string SwaySession::log() const { return readFile(base_ / "log"); }

std::unique_ptr<SwaySession> SwaySessionEnvironment::session_;

void SwaySessionEnvironment::SetUp() { session_ = std::make_unique<SwaySession>(options_); }

void SwaySessionEnvironment::TearDown() { session_.reset(); }

SwaySession& SwaySessionEnvironment::session() { return *session_; }

}  // namespace halvic::wayland
