// UTF-8 well-formedness, as RFC 3629 defines it: no overlongs, no UTF-16
// surrogates, nothing past U+10FFFF.
#pragma once

#include <cstddef>
#include <string_view>

namespace halvic {

// Length of the well-formed sequence at the start of `s` (not empty); 0 when
// its first byte does not begin one.
std::size_t wellFormedLength(std::string_view s);

// True when all of `bytes` is well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

}  // namespace halvic
