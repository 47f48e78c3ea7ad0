// Reading JSON that comes from outside: a command over the bus, the
// settings file, a file handed to brantwellctl.
//
// Copying, comparing, printing and freeing a JSON value each recurse once
// per level of nesting, so a text nested 100,000 deep (200 KB of "[")
// overflows the stack wherever it goes next. Such a text is refused before
// the parser builds anything; the settings never need more than a few
// levels.
#pragma once

#include <cstddef>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace brantwell {

inline constexpr std::size_t kMaxJsonDepth = 64;

// True when no array or object in `text` lies more than `limit` levels
// deep (an object holding an array is two levels). Brackets inside strings
// do not count. Linear, no recursion; the text need not be valid JSON.
bool jsonDepthWithin(std::string_view text, std::size_t limit = kMaxJsonDepth);

// The value of `text`, or a discarded value (is_discarded()) when it is
// not JSON or is nested deeper than kMaxJsonDepth. Never throws.
nlohmann::json parseBoundedJson(std::string_view text);

} // namespace brantwell
