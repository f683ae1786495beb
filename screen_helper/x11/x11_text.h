// Text from X11 window properties, made safe to hand to the logic as UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace halvic::x11 {

// `bytes` as valid UTF-8: well-formed sequences are kept, every ill-formed
// byte becomes U+FFFD, and NUL separators (list-valued properties) end the text.
std::string sanitizedUtf8(std::string_view bytes);

// ISO 8859-1 bytes (the STRING property type) as UTF-8.
std::string latin1ToUtf8(std::string_view bytes);

}  // namespace halvic::x11
