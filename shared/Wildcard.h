// Case-insensitive whole-text wildcard match: "*" is any run of characters
// (also none), "?" exactly one character (of UTF-8 text: one code point,
// whatever its length in bytes), everything else itself.
#pragma once

#include <string>
#include <string_view>

namespace brantwell {

class WildcardPattern {
public:
    WildcardPattern() = default;  // matches nothing: the pattern is missing
    explicit WildcardPattern(std::string_view pattern);

    bool isValid() const { return valid_; }
    bool matches(std::string_view text) const;
    const std::string& pattern() const { return folded_; }

private:
    std::string folded_;  // lower-cased once, at compile time
    bool valid_ = false;
    bool matchesAll_ = false;  // "*" alone, the common case
};

// One-off test, for callers that do not keep the compiled pattern.
bool isExpressionInclude(std::string_view text, std::string_view pattern);

} // namespace brantwell
