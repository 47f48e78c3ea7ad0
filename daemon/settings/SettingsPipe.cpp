#include "SettingsPipe.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include "BoundedJson.h"
#include "util/FileUtil.h"

namespace brantwell {

namespace {

// What a start without a file runs: the base every file is applied over.
const Settings& defaultSettings()
{
    static const Settings defaults = applySettingsDictionary(Settings{}, defaultSettingsDictionary());
    return defaults;
}

} // namespace

SettingsPipe::SettingsPipe(std::string dataDirectory)
    : dataDirectory_(std::move(dataDirectory)), current_(std::make_shared<const Settings>(defaultSettings()))
{
}

std::string SettingsPipe::settingsPath() const
{
    return joinPath(dataDirectory_, kSettingsFileName);
}

void SettingsPipe::publish(Settings next)
{
    current_.store(std::make_shared<const Settings>(std::move(next)), std::memory_order_release);
}

namespace {

// One key a line, each value compact: a readable file whose size stays in
// proportion to the dictionary (indenting every level would make a deeply
// nested value grow with the square of its depth). Invalid UTF-8 in a
// received text is replaced, never a reason to lose the whole file.
std::string serialise(const nlohmann::json& dictionary)
{
    constexpr auto replace = nlohmann::json::error_handler_t::replace;
    if (!dictionary.is_object() || dictionary.empty())
        return dictionary.dump(-1, ' ', false, replace) + "\n";
    std::string text = "{";
    const char* separator = "\n  ";
    for (const auto& [key, value] : dictionary.items()) {
        text += separator;
        text += nlohmann::json(key).dump(-1, ' ', false, replace);
        text += ": ";
        text += value.dump(-1, ' ', false, replace);
        separator = ",\n  ";
    }
    text += "\n}\n";
    return text;
}

} // namespace

bool SettingsPipe::readSettings()
{
    std::lock_guard lock(saveMutex_);
    ensureDataDirectory(dataDirectory_);
    const std::string path = settingsPath();
    const auto defaults = defaultSettingsDictionary();
    std::string contents;
    if (readWholeFile(path, contents)) {
        const auto parsed = parseBoundedJson(contents);
        if (parsed.is_object()) {
            // A file edited by hand may hold a filter the receiver cannot
            // use: it is left out, and said so, rather than dropping events.
            for (const auto& why : unusableFilterRecords(parsed))
                std::fprintf(stderr, "BrantwellSrv: %s: ignoring filter %s\n", path.c_str(), why.c_str());
            for (const auto& why : unusableForwardingRecords(parsed))
                std::fprintf(stderr, "BrantwellSrv: %s: ignoring destination %s\n", path.c_str(), why.c_str());
            publish(applySettingsDictionary(defaultSettings(), parsed));
            return true;
        }
        // Keep what the user had, so an editor slip loses nothing; without
        // that copy the file itself stays.
        const std::string bad = path + ".bad";
        if (!writeFileAtomically(bad, contents)) {
            std::fprintf(stderr,
                         "BrantwellSrv: %s does not decode, and it cannot be kept as %s (%s); the file is "
                         "left as it is and the defaults apply until restart\n",
                         path.c_str(), bad.c_str(), fileErrorText(errno).c_str());
            publish(applySettingsDictionary(Settings{}, defaults));
            return false;
        }
        std::fprintf(stderr, "BrantwellSrv: %s is not a JSON object%s; kept as %s, defaults written\n",
                     path.c_str(), jsonDepthWithin(contents) ? "" : " nested at most 64 deep", bad.c_str());
    } else if (errno != ENOENT) {
        // A file that is there but cannot be read (permissions, an I/O
        // error, a planted link) may hold everything the user set: it is
        // never replaced by the defaults.
        std::fprintf(stderr,
                     "BrantwellSrv: cannot read %s: %s; the file is left as it is and the defaults apply "
                     "until restart\n",
                     path.c_str(), fileErrorText(errno).c_str());
        publish(applySettingsDictionary(Settings{}, defaults));
        return false;
    }
    publish(applySettingsDictionary(Settings{}, defaults));
    if (!writeFileAtomically(path, serialise(defaults))) {
        std::fprintf(stderr, "BrantwellSrv: cannot write %s: %s\n", path.c_str(), fileErrorText(errno).c_str());
        return false;
    }
    return true;
}

SettingsPipe::SaveResult SettingsPipe::replaceSettings(const nlohmann::json& dictionary, std::string* failure)
{
    const std::string text = serialise(dictionary);
    if (text.size() > kMaxSettingsBytes) {
        if (failure)
            *failure = "the settings would take " + std::to_string(text.size()) + " bytes; at most "
                       + std::to_string(kMaxSettingsBytes) + " are kept";
        return SaveResult::TooLarge;
    }
    ensureDataDirectory(dataDirectory_);
    // Written first: the settings in force are always what the file holds.
    if (!writeFileAtomically(settingsPath(), text)) {
        const std::string why = "cannot write " + settingsPath() + ": " + fileErrorText(errno);
        std::fprintf(stderr, "BrantwellSrv: %s; the settings stay as they were\n", why.c_str());
        if (failure)
            *failure = why;
        return SaveResult::WriteFailed;
    }
    publish(applySettingsDictionary(defaultSettings(), dictionary));
    return SaveResult::Saved;
}

namespace {

// The "Settings" dictionary of a "save" or "merge" command, or null.
const nlohmann::json* settingsOfCommand(const nlohmann::json& command)
{
    if (!command.is_object())
        return nullptr;
    const auto it = command.find("Settings");
    return it != command.end() && it->is_object() ? &*it : nullptr;
}

} // namespace

SettingsPipe::SaveResult SettingsPipe::saveSettings(const nlohmann::json& command, std::string* failure)
{
    const nlohmann::json* settings = settingsOfCommand(command);
    if (!settings)
        return SaveResult::NoDictionary;
    std::lock_guard lock(saveMutex_);
    return replaceSettings(*settings, failure);
}

SettingsPipe::SaveResult SettingsPipe::mergeSettings(const nlohmann::json& command, std::string* failure)
{
    const nlohmann::json* settings = settingsOfCommand(command);
    if (!settings)
        return SaveResult::NoDictionary;
    std::lock_guard lock(saveMutex_);
    nlohmann::json merged;
    std::string contents;
    if (readWholeFile(settingsPath(), contents)) {
        merged = parseBoundedJson(contents);
        if (!merged.is_object()) {
            if (failure)
                *failure = settingsPath() + " does not decode to a JSON object; nothing was merged";
            return SaveResult::Unreadable;
        }
    } else if (errno == ENOENT) {
        merged = snapshot()->dictionary;
    } else {
        if (failure)
            *failure = "cannot read " + settingsPath() + ": " + fileErrorText(errno) + "; nothing was merged";
        return SaveResult::Unreadable;
    }
    for (const auto& [key, value] : settings->items())
        merged[key] = value;
    return replaceSettings(merged, failure);
}

} // namespace brantwell
