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

int save(const std::vector<std::string>& args, const Options&)
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

    // With --merge the daemon lays FILE's keys over its file as it is then,
    // under its own lock: another writer's keys stay.
    const int result = sendCommand({{"command", merge ? "merge" : "save"}, {"Settings", settings}});
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
