// Random identifiers for the names of the files the tool leaves behind.
#pragma once

#include <string>

namespace halvic {

// A new random (version 4, RFC 4122 variant) UUID in its canonical text form:
// 36 characters, 8-4-4-4-12 upper-case hexadecimal digits and hyphens.
std::string makeUuidString();

}  // namespace halvic
