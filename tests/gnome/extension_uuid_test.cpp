// Which uuid of our extension the helper tells the user to enable, by the Shell's version: the boundary between the
// script entry (43, 44) and the module entry (45 on), and versions it cannot read.
#include "extension_uuid.h"

#include <gtest/gtest.h>

namespace halvic::gnome {
namespace {

TEST(ExtensionUuid, FollowsTheShellsMajorVersion) {
  const struct {
    std::string_view version, uuid;
  } cases[] = {
      {"43.9", kScriptExtensionUuid},    {"44", kScriptExtensionUuid},   {"44.10", kScriptExtensionUuid},
      {"3.38.4", kScriptExtensionUuid},  {"45.0", kModuleExtensionUuid}, {"45.rc", kModuleExtensionUuid},
      {"48.7", kModuleExtensionUuid},    {"50.alpha", kModuleExtensionUuid},
      {"", kModuleExtensionUuid},        {"unknown", kModuleExtensionUuid}, {"99999999999.1", kModuleExtensionUuid},
  };
  for (const auto& c : cases) EXPECT_EQ(extensionUuidFor(c.version), c.uuid) << c.version;
}

}  // namespace
}  // namespace halvic::gnome
