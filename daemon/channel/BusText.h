// Texts for D-Bus strings, which must be valid UTF-8 without NUL: a message
// that breaks the rule makes the bus drop the sender's connection.
#pragma once

#include <string>
#include <string_view>

namespace brantwell {

// True when `text` may go onto the bus as it is.
bool isBusText(std::string_view text);

// `text` with every NUL, every byte that does not begin a well-formed UTF-8
// sequence and every code point the bus refuses (surrogates, noncharacters,
// beyond U+10FFFF) replaced by U+FFFD, written to `out`.
void toBusText(std::string_view text, std::string& out);

} // namespace brantwell
