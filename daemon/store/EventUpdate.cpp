#include "EventUpdate.h"

#include <cerrno>
#include <string>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "EventStore.h"
#include "SettingsValue.h"
#include "util/FileUtil.h"

namespace brantwell {

UpdateResult updateEvents(EventStore& store, const nlohmann::json& command)
{
    UpdateResult result;
    const auto events = command.find("Events");
    if (events == command.end() || !events->is_object())
        return result;
    std::unordered_map<std::string, std::int64_t> counts;
    for (const auto& [line, count] : events->items()) {
        const auto n = integerValue(count).value_or(0);
        if (n > 0)
            counts[line] = n;
    }
    std::vector<std::string> taken;
    for (const auto& file : store.listFiles()) {
        if (counts.empty())
            break;
        taken.clear();
        const bool done = store.rewrite(file, [&](std::vector<std::string>& lines) {
            const std::size_t before = lines.size();
            std::erase_if(lines, [&](const std::string& line) {
                const auto it = counts.find(line);
                if (it == counts.end())
                    return false;
                taken.push_back(line);
                if (--it->second == 0)
                    counts.erase(it);
                return true;
            });
            return lines.size() != before;
        });
        if (done) {
            result.deleted += taken.size();
            continue;
        }
        const int error = errno;
        if (error == ENOENT && taken.empty())
            continue;  // removed meanwhile: nothing of it to delete
        // The lines are still stored: a later file may hold other copies.
        for (const auto& line : taken)
            ++counts[line];
        result.failures.push_back(joinPath(store.directory(), file) + ": " + fileErrorText(error));
    }
    return result;
}

} // namespace brantwell
