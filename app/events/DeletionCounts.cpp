#include "DeletionCounts.h"

#include <nlohmann/json.hpp>

namespace brantwell {

namespace {

std::string dump(const nlohmann::json& value)
{
    // Invalid UTF-8 cannot travel on the bus; it is replaced, not thrown on.
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string updateText(nlohmann::json&& events)
{
    nlohmann::json command = nlohmann::json::object();
    command["command"] = "update";
    command["Events"] = std::move(events);
    return dump(command);
}

} // namespace

std::vector<std::string> updateCommands(const DeletionCounts& counts, std::size_t maxBytes)
{
    static const std::size_t kFrame = updateText(nlohmann::json::object()).size();
    std::vector<std::string> commands;
    nlohmann::json events = nlohmann::json::object();
    std::size_t size = kFrame;
    for (const auto& [line, count] : counts) {
        const std::string countText = std::to_string(count);
        // Quoted key, colon, quoted value and a comma.
        const std::size_t entry = dump(nlohmann::json(line)).size() + countText.size() + 4;
        if (!events.empty() && size + entry > maxBytes) {
            commands.push_back(updateText(std::move(events)));
            events = nlohmann::json::object();
            size = kFrame;
        }
        events[line] = countText;
        size += entry;
    }
    if (!events.empty())
        commands.push_back(updateText(std::move(events)));
    return commands;
}

std::string saveCommand(const nlohmann::json& settings, const char* name)
{
    nlohmann::json command = nlohmann::json::object();
    command["command"] = name;
    command["Settings"] = settings;
    return dump(command);
}

} // namespace brantwell
