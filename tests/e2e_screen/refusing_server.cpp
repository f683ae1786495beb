#include "refusing_server.h"

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <random>

#include "x_session.h"
// Last: Xlib defines macros (None) that clash with GoogleTest.
#include <X11/Xlib.h>

namespace halvic::e2e {
namespace {

// One Xauthority entry: family, address, display number, protocol name and
// cookie, each length-prefixed (big-endian 16 bits). The wildcard family
// matches any display on any host.
void writeAuthority(const std::filesystem::path& path) {
  std::ofstream out(path, std::ios::binary);
  auto put16 = [&out](std::size_t v) { out.put(static_cast<char>(v >> 8)).put(static_cast<char>(v & 0xFF)); };
  auto putField = [&](const std::string& s) {
    put16(s.size());
    out.write(s.data(), static_cast<std::streamsize>(s.size()));
  };
  std::string cookie(16, '\0');
  std::random_device random;
  for (char& c : cookie) c = static_cast<char>(random());
  put16(0xFFFF);
  putField("");
  putField("");
  putField("MIT-MAGIC-COOKIE-1");
  putField(cookie);
}

}  // namespace

RefusingServer::RefusingServer() {
  const auto authority = directory_.path() / "authority";
  writeAuthority(authority);
  server_ = startXServer({"-auth", authority.string()}, display_);
  // The refusal is what the tests rely on; make sure it happens.
  ScopedEnv noCookie("XAUTHORITY", "/nonexistent");
  if (Display* d = XOpenDisplay(display_.c_str())) {
    XCloseDisplay(d);
    throw std::runtime_error("the server with an authority file accepts clients without a cookie");
  }
}

}  // namespace halvic::e2e
