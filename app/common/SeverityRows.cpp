#include "SeverityRows.h"

namespace brantwell {

std::size_t severityRowOf(std::string_view priority)
{
    for (std::size_t row = 0; row < kSeverityMatchWords.size(); ++row) {
        if (priority.find(kSeverityMatchWords[row]) != std::string_view::npos)
            return row;
    }
    return kUnknownRow;
}

bool isDisplayClass(long long value)
{
    return value >= 0 && value <= 2;
}

} // namespace brantwell
