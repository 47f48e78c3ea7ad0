// brantwellctl: steers BrantwellSrv over its D-Bus channel, for
// administrators and scripts.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>
#include <sdbus-c++/sdbus-c++.h>

#include "BusNames.h"

namespace {

using brantwell::bus::kInterface;
using brantwell::bus::kObjectPath;
using brantwell::bus::kService;

enum Exit { kOk = 0, kFailed = 1, kUsage = 2, kRefused = 3, kRejected = 4 };

void printHelp()
{
    std::printf(
        "Usage: brantwellctl COMMAND [ARGUMENTS]\n"
        "\n"
        "Steers the BrantwellSrv syslog daemon over the system bus\n"
        "(DBUS_SYSTEM_BUS_ADDRESS chooses another bus). Only root and members of\n"
        "group brantwell may use the commands that talk to the daemon.\n"
        "\n"
        "Commands:\n"
        "  save FILE          send the settings dictionary in FILE (a JSON object)\n"
        "  get                print the settings file\n"
        "  email --to ADDRESS [--to ADDRESS...] --subject TEXT --body TEXT\n"
        "                     have the daemon send one e-mail\n"
        "  delete LINE...     delete stored events; LINE is a whole stored line\n"
        "                     without its line feed; give a line twice to delete two\n"
        "                     copies\n"
        "  watch              print every announced event as it arrives:\n"
        "                     TYPE DATE,PRIORITY,HOST,MESSAGE\n"
        "  stats              print the daemon's counters\n"
        "  test-message       send \"<191>Brantwell - Test message\" to the local daemon\n"
        "\n"
        "Options:\n"
        "  --data-dir DIR     where get finds Brantwell.ini (default /Library/Brantwell)\n"
        "  --port N           where test-message sends to (default 514)\n"
        "  --help             show this text\n"
        "\n"
        "Exit status: 0 done, 1 daemon not reachable or command failed, 2 usage error,\n"
        "3 refused by the daemon (not root, not in group brantwell), 4 command rejected.\n");
}

int usage(const std::string& message)
{
    std::fprintf(stderr, "brantwellctl: %s\nTry 'brantwellctl --help'.\n", message.c_str());
    return kUsage;
}

int reportError(const sdbus::Error& e)
{
    const std::string& name = e.getName();
    if (name == "org.freedesktop.DBus.Error.AccessDenied") {
        std::fprintf(stderr, "brantwellctl: refused: %s\n", e.getMessage().c_str());
        return kRefused;
    }
    if (name == "org.freedesktop.DBus.Error.InvalidArgs") {
        std::fprintf(stderr, "brantwellctl: the daemon rejected the command: %s\n", e.getMessage().c_str());
        return kRejected;
    }
    if (name == "org.freedesktop.DBus.Error.ServiceUnknown" || name == "org.freedesktop.DBus.Error.NameHasNoOwner") {
        std::fprintf(stderr, "brantwellctl: BrantwellSrv is not running on this bus\n");
        return kFailed;
    }
    std::fprintf(stderr, "brantwellctl: %s: %s\n", name.c_str(), e.getMessage().c_str());
    return kFailed;
}

int sendCommand(const nlohmann::json& command)
{
    try {
        auto connection = sdbus::createSystemBusConnection();
        auto proxy = sdbus::createProxy(*connection, kService, kObjectPath);
        std::string reply;
        proxy->callMethod(brantwell::bus::kSetCommand).onInterface(kInterface).withArguments(command.dump()).storeResultsTo(reply);
        std::printf("%s\n", reply.c_str());
        return kOk;
    } catch (const sdbus::Error& e) {
        return reportError(e);
    }
}

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

int email(const std::vector<std::string>& args)
{
    std::vector<std::string> to;
    std::string subject, body;
    bool haveSubject = false, haveBody = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i + 1 >= args.size())
            return usage("missing value for " + args[i]);
        if (args[i] == "--to")
            to.push_back(args[++i]);
        else if (args[i] == "--subject")
            subject = args[++i], haveSubject = true;
        else if (args[i] == "--body")
            body = args[++i], haveBody = true;
        else
            return usage("unknown email option " + args[i]);
    }
    if (to.empty())
        return usage("email needs at least one --to");
    if (!haveSubject || !haveBody)
        return usage("email needs --subject and --body");
    return sendCommand({{"command", "email"}, {"Recipients", to}, {"Subject", subject}, {"Body", body}, {"Html", false}});
}

int deleteLines(const std::vector<std::string>& lines)
{
    if (lines.empty())
        return usage("delete needs at least one line");
    std::map<std::string, int> counts;
    for (const auto& l : lines)
        ++counts[l + "\n"];
    nlohmann::json events = nlohmann::json::object();
    for (const auto& [line, n] : counts)
        events[line] = std::to_string(n);
    return sendCommand({{"command", "update"}, {"Events", events}});
}

int watch()
{
    try {
        auto connection = sdbus::createSystemBusConnection();
        auto proxy = sdbus::createProxy(*connection, kService, kObjectPath);
        proxy->uponSignal(brantwell::bus::kEventSignal).onInterface(kInterface).call(
            [](const std::vector<std::map<std::string, std::string>>& events) {
                for (const auto& e : events) {
                    auto field = [&](const char* k) {
                        const auto it = e.find(k);
                        return it == e.end() ? std::string() : it->second;
                    };
                    std::printf("%s %s,%s,%s,%s\n", field("Type").c_str(), field("Date").c_str(),
                                field("Priority").c_str(), field("Host").c_str(), field("Message").c_str());
                }
                std::fflush(stdout);
            });
        proxy->finishRegistration();
        // Tells a script that the subscription is in place.
        std::fprintf(stderr, "brantwellctl: watching\n");
        connection->enterEventLoop();
        return kOk;
    } catch (const sdbus::Error& e) {
        return reportError(e);
    }
}

int stats()
{
    try {
        auto connection = sdbus::createSystemBusConnection();
        auto proxy = sdbus::createProxy(*connection, kService, kObjectPath);
        std::map<std::string, std::uint64_t> counters;
        proxy->callMethod(brantwell::bus::kGetStatistics).onInterface(kInterface).storeResultsTo(counters);
        for (const auto& [name, value] : counters)
            std::printf("%s %llu\n", name.c_str(), static_cast<unsigned long long>(value));
        return kOk;
    } catch (const sdbus::Error& e) {
        return reportError(e);
    }
}

int testMessage(int port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    static constexpr std::string_view kMessage = "<191>Brantwell - Test message";
    const bool sent = fd >= 0
                      && sendto(fd, kMessage.data(), kMessage.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to)
                             == static_cast<ssize_t>(kMessage.size());
    if (fd >= 0)
        close(fd);
    if (!sent) {
        std::perror("brantwellctl: test-message");
        return kFailed;
    }
    return kOk;
}

} // namespace

int main(int argc, char** argv)
{
    std::string dataDir = "/Library/Brantwell";
    int port = 514;
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
                dataDir = argv[++i];
            } else {
                char* end = nullptr;
                const long p = std::strtol(argv[++i], &end, 10);
                if (!*argv[i] || *end || p < 1 || p > 65535)
                    return usage(std::string("invalid port ") + argv[i]);
                port = static_cast<int>(p);
            }
            continue;
        }
        args.emplace_back(a);
    }
    if (args.empty())
        return usage("no command given");
    const std::string command = args.front();
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "save")
        return rest.size() == 1 ? save(rest[0]) : usage("save takes one FILE");
    if (command == "get")
        return rest.empty() ? get(dataDir) : usage("get takes no arguments");
    if (command == "email")
        return email(rest);
    if (command == "delete")
        return deleteLines(rest);
    if (command == "watch")
        return rest.empty() ? watch() : usage("watch takes no arguments");
    if (command == "stats")
        return rest.empty() ? stats() : usage("stats takes no arguments");
    if (command == "test-message")
        return rest.empty() ? testMessage(port) : usage("test-message takes no arguments");
    return usage("unknown command " + command);
}
