#include "EventUpdate.h"

#include <string>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "EventStore.h"
#include "SettingsValue.h"

namespace brantwell {

std::size_t updateEvents(EventStore& store, const nlohmann::json& command)
{
    const auto events = command.find("Events");
    if (events == command.end() || !events->is_object())
        return 0;
    std::unordered_map<std::string, std::int64_t> counts;
    for (const auto& [line, count] : events->items()) {
        const auto n = integerValue(count).value_or(0);
        if (n > 0)
            counts[line] = n;
    }
    std::size_t deleted = 0;
    for (const auto& file : store.listFiles()) {
        if (counts.empty())
            break;
        store.rewrite(file, [&](std::vector<std::string>& lines) {
            const std::size_t before = lines.size();
            std::erase_if(lines, [&](const std::string& line) {
                const auto it = counts.find(line);
                if (it == counts.end())
                    return false;
                if (--it->second == 0)
                    counts.erase(it);
                return true;
            });
            deleted += before - lines.size();
            return lines.size() != before;
        });
    }
    return deleted;
}

} // namespace brantwell
