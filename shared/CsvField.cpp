#include "CsvField.h"

namespace brantwell {

bool csvNeedsQuotes(std::string_view field)
{
    return field.find_first_of(",\"\r\n") != std::string_view::npos;
}

void appendCsvField(std::string& line, std::string_view field)
{
    if (!csvNeedsQuotes(field)) {
        line.append(field);
        return;
    }
    line += '"';
    for (const char c : field) {
        if (c == '"')
            line += '"';
        line += c;
    }
    line += '"';
}

} // namespace brantwell
