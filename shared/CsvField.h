// One field of a comma-separated file as RFC 4180 writes it: quoted only
// when it holds a comma, a double quote or a line break, a double quote
// inside doubled. Every CSV file the programs write goes through here, so
// that a date such as "12/8/26, 11:03:14 AM" or a message with commas stays
// one column.
#pragma once

#include <string>
#include <string_view>

namespace brantwell {

bool csvNeedsQuotes(std::string_view field);

// Appends `field` to `line`, quoted when it must be.
void appendCsvField(std::string& line, std::string_view field);

inline std::string csvField(std::string_view field)
{
    std::string out;
    appendCsvField(out, field);
    return out;
}

} // namespace brantwell
