#include "extension_uuid.h"

#include <charconv>

namespace halvic::gnome {

std::string_view extensionUuidFor(std::string_view shellVersion) {
  int major = 0;
  const auto parsed = std::from_chars(shellVersion.data(), shellVersion.data() + shellVersion.size(), major);
  return parsed.ec == std::errc() && major < 45 ? kScriptExtensionUuid : kModuleExtensionUuid;
}

}  // namespace halvic::gnome
