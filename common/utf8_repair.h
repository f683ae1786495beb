// Repair of text that should be UTF-8 but comes from a source that does not
// promise it (window properties, calendar stores).
#pragma once

#include <string>
#include <string_view>

namespace halvic {

// `bytes` as well-formed UTF-8: well-formed sequences are kept unchanged and
// every byte that does not begin one becomes U+FFFD, so a cut or broken
// sequence of n bytes turns into n replacement characters (the rule GLib's
// g_utf8_make_valid follows). Overlongs, surrogates and values past U+10FFFF
// are ill-formed, as RFC 3629 says. NUL is kept.
std::string repairedUtf8(std::string_view bytes);

}  // namespace halvic
