#include "SettingsPipe.h"

#include <cstdio>
#include <unistd.h>

#include "util/FileUtil.h"

namespace brantwell {

SettingsPipe::SettingsPipe(std::string dataDirectory)
    : dataDirectory_(std::move(dataDirectory)),
      current_(std::make_shared<const Settings>(applySettingsDictionary(Settings{}, defaultSettingsDictionary())))
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

std::string serialise(const nlohmann::json& dictionary)
{
    // Invalid UTF-8 in a received text is replaced, never a reason to lose
    // the whole file.
    return dictionary.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

} // namespace

bool SettingsPipe::readSettings()
{
    std::lock_guard lock(saveMutex_);
    ensureDataDirectory(dataDirectory_);
    const std::string path = settingsPath();
    std::string contents;
    if (readWholeFile(path, contents)) {
        const auto parsed = nlohmann::json::parse(contents, nullptr, /*allow_exceptions=*/false);
        if (parsed.is_object()) {
            publish(applySettingsDictionary(*snapshot(), parsed));
            return true;
        }
        // Keep what the user had, so an editor slip loses nothing.
        const std::string bad = path + ".bad";
        if (!writeFileAtomically(bad, contents))
            std::fprintf(stderr, "BrantwellSrv: cannot keep the unreadable settings file as %s\n",
                         bad.c_str());
        std::fprintf(stderr, "BrantwellSrv: %s is not a JSON object; kept as %s, defaults written\n",
                     path.c_str(), bad.c_str());
    }
    const auto defaults = defaultSettingsDictionary();
    publish(applySettingsDictionary(Settings{}, defaults));
    if (!writeFileAtomically(path, serialise(defaults))) {
        std::fprintf(stderr, "BrantwellSrv: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

SettingsPipe::SaveResult SettingsPipe::saveSettings(const nlohmann::json& command)
{
    if (!command.is_object())
        return SaveResult::NoDictionary;
    const auto it = command.find("Settings");
    if (it == command.end() || !it->is_object())
        return SaveResult::NoDictionary;
    std::lock_guard lock(saveMutex_);
    publish(applySettingsDictionary(*snapshot(), *it));
    ensureDataDirectory(dataDirectory_);
    if (!writeFileAtomically(settingsPath(), serialise(*it))) {
        std::fprintf(stderr, "BrantwellSrv: cannot write %s; the new settings apply until restart\n",
                     settingsPath().c_str());
        return SaveResult::WriteFailed;
    }
    return SaveResult::Saved;
}

} // namespace brantwell
