// save and get: the settings dictionary.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "BoundedJson.h"
#include "Ctl.h"

namespace brantwell::ctl {

namespace {

// The text of a file, or nothing (with errno) when it cannot be read.
std::optional<std::string> readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

int save(const std::vector<std::string>& args, const Options& options)
{
    bool merge = false;
    std::vector<std::string> files;
    for (const auto& a : args) {
        if (a == "--merge")
            merge = true;
        else
            files.push_back(a);
    }
    if (files.size() != 1)
        return usage("save takes one FILE");
    const std::string& file = files.front();
    const auto text = readText(file);
    if (!text)
        return usage("cannot read " + file + ": " + std::strerror(errno));
    auto settings = parseBoundedJson(*text);
    if (!settings.is_object())
        return usage(file + " is not a JSON object nested at most 64 deep; nothing was sent");

    if (merge) {
        const std::string current = dataDirectory(options) + "/Brantwell.ini";
        const auto currentText = readText(current);
        if (!currentText) {
            std::fprintf(stderr, "brantwellctl: cannot read %s for --merge: %s; nothing was sent\n", current.c_str(),
                         std::strerror(errno));
            return kFailed;
        }
        auto merged = parseBoundedJson(*currentText);
        if (!merged.is_object()) {
            std::fprintf(stderr, "brantwellctl: %s is not a JSON object nested at most 64 deep; nothing was sent\n",
                         current.c_str());
            return kFailed;
        }
        // FILE's keys replace the current ones whole; the others stay.
        merged.update(settings);
        settings = std::move(merged);
    }
    const int result = sendCommand({{"command", "save"}, {"Settings", settings}});
    if (result == kOk && !merge)
        std::fprintf(stderr,
                     "brantwellctl: the settings file now holds exactly the %zu keys of %s "
                     "(save --merge keeps the others)\n",
                     settings.size(), file.c_str());
    return result;
}

int get(const Options& options)
{
    const std::string path = dataDirectory(options) + "/Brantwell.ini";
    const auto text = readText(path);
    if (!text) {
        std::fprintf(stderr, "brantwellctl: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
        return kFailed;
    }
    std::cout << *text;
    return kOk;
}

} // namespace brantwell::ctl
