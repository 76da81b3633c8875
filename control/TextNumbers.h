#pragma once
#include <optional>
#include <string_view>

namespace rw {

// The leading decimal number of a text, read the way "%d" and atoi read it:
// leading blanks and tabs, an optional sign, digits up to the first other
// character. Values beyond the int range are held at its ends. Empty when the
// text does not start with a number.
std::optional<int> scanDecimal(std::string_view text);

}  // namespace rw
