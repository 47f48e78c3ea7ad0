#include "Priority.h"

#include <string>
#include <vector>

namespace brantwell {

namespace {

// All 192 texts built once, so the receive path hands out views, never
// formats a string per datagram.
const std::vector<std::string>& priorityTable()
{
    static const std::vector<std::string> table = [] {
        std::vector<std::string> texts;
        texts.reserve(kFacilityNames.size() * kSeverityNames.size());
        for (auto facility : kFacilityNames)
            for (auto severity : kSeverityNames)
                texts.push_back(std::string(facility) + "." + std::string(severity));
        return texts;
    }();
    return table;
}

} // namespace

std::string_view priorityText(std::uint32_t pri)
{
    const auto& table = priorityTable();
    if (pri >= table.size())
        return kUnknownPriority;
    return table[pri];
}

PriorityParts splitPriority(std::string_view priority)
{
    const auto dot = priority.find('.');
    if (dot == std::string_view::npos)
        return {priority, priority};
    return {priority.substr(0, dot), priority.substr(dot + 1)};
}

} // namespace brantwell
