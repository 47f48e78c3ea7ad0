#include "EventUpdate.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <ctime>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "EventRecord.h"
#include "EventStore.h"
#include "SettingsValue.h"
#include "util/FileUtil.h"

namespace brantwell {

namespace {

// Looks lines up as views of the file being read, without a copy each.
struct LineHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view line) const { return std::hash<std::string_view>{}(line); }
};

} // namespace

UpdateResult updateEvents(EventStore& store, const nlohmann::json& command)
{
    UpdateResult result;
    const auto events = command.find("Events");
    if (events == command.end() || !events->is_object())
        return result;
    std::unordered_map<std::string, std::int64_t, LineHash, std::equal_to<>> counts;
    for (const auto& [line, count] : events->items()) {
        const auto n = integerValue(count).value_or(0);
        if (n > 0)
            counts[line] = n;
    }
    std::vector<std::string> taken;
    // The day files the lines' dates name come first; the others are read
    // only for lines those do not hold (a line edited by hand, a clock
    // change).
    std::vector<std::string> files = store.listFiles();
    {
        std::set<std::string> named;
        for (const auto& entry : counts) {
            std::int64_t date = 0;
            const char* begin = entry.first.data();
            const auto [end, error] = std::from_chars(begin, begin + entry.first.size(), date);
            if (error == std::errc() && end != begin && *end == ',')
                named.insert(eventLogFileName(static_cast<long long>(date)));
        }
        std::stable_partition(files.begin(), files.end(), [&named](const std::string& f) { return named.contains(f); });
    }
    for (const auto& file : files) {
        if (counts.empty())
            break;
        taken.clear();
        const bool done = store.rewrite(file, [&](std::string_view line) {
            const auto it = counts.find(line);
            if (it == counts.end())
                return true;
            taken.emplace_back(line);
            if (--it->second == 0)
                counts.erase(it);
            return false;
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
