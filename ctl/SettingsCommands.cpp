// save and get: the settings dictionary.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "Ctl.h"

namespace brantwell::ctl {

int save(const std::string& file)
{
    std::ifstream in(file);
    if (!in)
        return usage("cannot read " + file);
    std::stringstream text;
    text << in.rdbuf();
    const auto settings = nlohmann::json::parse(text.str(), nullptr, false);
    if (!settings.is_object())
        return usage(file + " is not a JSON object");
    return sendCommand({{"command", "save"}, {"Settings", settings}});
}

int get(const std::string& dataDir)
{
    const std::string path = dataDir + "/Brantwell.ini";
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "brantwellctl: cannot read %s\n", path.c_str());
        return kFailed;
    }
    std::cout << in.rdbuf();
    return kOk;
}

} // namespace brantwell::ctl
