#include "Wildcard.h"

namespace brantwell {

namespace {

inline char fold(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The offset of the character after the one at `t`: stored text is UTF-8,
// and "?" (or a "*" giving up one more character) takes a whole character.
inline std::size_t nextCharacter(std::string_view text, std::size_t t)
{
    ++t;
    while (t < text.size() && (static_cast<unsigned char>(text[t]) & 0xC0) == 0x80)
        ++t;
    return t;
}

} // namespace

WildcardPattern::WildcardPattern(std::string_view pattern) : valid_(true)
{
    folded_.reserve(pattern.size());
    for (char c : pattern) {
        // Runs of "*" mean the same as one; collapsing them keeps matching linear.
        if (c == '*' && !folded_.empty() && folded_.back() == '*')
            continue;
        folded_ += fold(c);
    }
    matchesAll_ = folded_ == "*";
}

// Greedy matcher with one backtrack point (the last "*"): O(n*m) worst
// case, no recursion, so a hostile pattern cannot exhaust the stack. A "*"
// or "?" in the text is an ordinary character.
bool WildcardPattern::matches(std::string_view text) const
{
    if (!valid_)
        return false;
    if (matchesAll_)
        return true;
    const std::string_view p = folded_;
    std::size_t t = 0, i = 0;
    std::size_t starP = std::string_view::npos, starT = 0;
    while (t < text.size()) {
        // A "*" of the pattern is always the wildcard, tried before any
        // literal comparison: taken as a literal "*" it would be used up by a
        // "*" of the text (messages of devices without a set clock start
        // with one) and leave nothing to backtrack to.
        if (i < p.size() && p[i] == '*') {
            starP = i++;
            starT = t;
        } else if (i < p.size() && p[i] == '?') {
            ++i;
            t = nextCharacter(text, t);
        } else if (i < p.size() && p[i] == fold(text[t])) {
            ++i;
            ++t;
        } else if (starP != std::string_view::npos) {
            i = starP + 1;
            t = starT = nextCharacter(text, starT);
        } else {
            return false;
        }
    }
    while (i < p.size() && p[i] == '*')
        ++i;
    return i == p.size();
}

bool isExpressionInclude(std::string_view text, std::string_view pattern)
{
    return WildcardPattern(pattern).matches(text);
}

} // namespace brantwell
