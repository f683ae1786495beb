#include "utf8_repair.h"

#include "utf8.h"

namespace halvic {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

}  // namespace

std::string repairedUtf8(std::string_view bytes) {
  // Nearly all text is already well-formed: copy it in one go.
  if (isValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 8);
  while (!bytes.empty()) {
    const std::size_t n = wellFormedLength(bytes);
    if (n == 0) {
      out += kReplacement;
      bytes.remove_prefix(1);
    } else {
      out += bytes.substr(0, n);
      bytes.remove_prefix(n);
    }
  }
  return out;
}

}  // namespace halvic
