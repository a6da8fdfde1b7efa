#pragma once

#include <string>
#include <string_view>

namespace platform {

// Window-name properties in the encodings X clients write them, turned into UTF-8.
// Texts end at the first NUL: a property that holds a list gives its first text.

// ICCCM STRING: ISO 8859-1.
std::string latin1ToUtf8(std::string_view text);

// COMPOUND_TEXT: ISO 2022 segments (ASCII and ISO 8859-1 by default, other ISO 8859
// parts, GB 2312, JIS X 0208, KS C 5601, UTF-8 and named extended segments). Bytes of a
// character set that cannot be converted come out as '?', never as raw bytes.
std::string compoundTextToUtf8(std::string_view text);

} // namespace platform
