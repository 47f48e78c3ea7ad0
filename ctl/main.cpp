// brantwellctl: steers BrantwellSrv over its D-Bus channel, for
// administrators and scripts. This file reads the command line and hands
// over to the subcommand; each subcommand lives in its own file.
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "Ctl.h"

using namespace brantwell::ctl;

int main(int argc, char** argv)
{
    Options options;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--help" || a == "-h") {
            printHelp();
            return kOk;
        }
        if (a == "--data-dir" || a == "--port") {
            if (i + 1 >= argc)
                return usage("missing value for " + std::string(a));
            if (a == "--data-dir") {
                options.dataDir = argv[++i];
            } else {
                char* end = nullptr;
                const long p = std::strtol(argv[++i], &end, 10);
                if (!*argv[i] || *end || p < 1 || p > 65535)
                    return usage(std::string("invalid port ") + argv[i]);
                options.port = static_cast<int>(p);
            }
            continue;
        }
        args.emplace_back(a);
    }
    if (args.empty())
        return usage("no command given");
    const std::string command = args.front();
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "status")
        return rest.empty() ? status(options) : usage("status takes no arguments");
    if (command == "save")
        return save(rest, options);
    if (command == "get")
        return rest.empty() ? get(options) : usage("get takes no arguments");
    if (command == "email")
        return email(rest);
    if (command == "delete")
        return deleteLines(rest);
    if (command == "watch")
        return rest.empty() ? watch() : usage("watch takes no arguments");
    if (command == "stats")
        return rest.empty() ? stats() : usage("stats takes no arguments");
    if (command == "test-message")
        return rest.empty() ? testMessage(options.port) : usage("test-message takes no arguments");
    return usage("unknown command " + command);
}
