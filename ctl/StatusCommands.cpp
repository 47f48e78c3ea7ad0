// status and stats: whether the daemon runs, what it holds, its counters.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

#include <sdbus-c++/sdbus-c++.h>

#include "BusNames.h"
#include "Ctl.h"

namespace brantwell::ctl {

namespace {

std::map<std::string, std::uint64_t> counters(DaemonProxy& daemon)
{
    std::map<std::string, std::uint64_t> result;
    daemon.proxy->callMethod(bus::kGetStatistics).onInterface(bus::kInterface).storeResultsTo(result);
    return result;
}

// The process that owns the daemon's name on the bus, or 0 when nobody
// does. Throws sdbus::Error when the bus itself cannot be reached.
std::uint32_t nameOwnerPid(sdbus::IConnection& connection)
{
    auto busProxy = sdbus::createProxy(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    bool owned = false;
    busProxy->callMethod("NameHasOwner").onInterface("org.freedesktop.DBus").withArguments(std::string(bus::kService)).storeResultsTo(owned);
    if (!owned)
        return 0;
    std::uint32_t pid = 0;
    busProxy->callMethod("GetConnectionUnixProcessID").onInterface("org.freedesktop.DBus")
        .withArguments(std::string(bus::kService)).storeResultsTo(pid);
    return pid;
}

struct StoreCount {
    std::uint64_t events = 0;
    std::uint64_t dayFiles = 0;
    std::string error;
};

// Counts the lines of the day files (yyyy-MM-dd.log) in `dir`; a last line
// without its line feed counts too.
StoreCount countStore(const std::string& dir)
{
    static const std::regex dayFile(R"(\d{4}-\d{2}-\d{2}\.log)");
    StoreCount count;
    std::error_code error;
    std::filesystem::directory_iterator it(dir, error);
    if (error) {
        count.error = error.message();
        return count;
    }
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        if (!std::regex_match(name, dayFile) || !entry.is_regular_file(error))
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        if (!in) {
            count.error = "cannot read " + name + ": " + std::strerror(errno);
            return count;
        }
        ++count.dayFiles;
        char buffer[65536];
        char last = '\n';
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
            const auto n = static_cast<std::size_t>(in.gcount());
            for (std::size_t i = 0; i < n; ++i)
                count.events += buffer[i] == '\n';
            last = buffer[n - 1];
        }
        count.events += last != '\n';
    }
    return count;
}

void printStore(const std::string& dir, bool named = true)
{
    if (named)
        std::printf("Data directory: %s\n", dir.c_str());
    const auto store = countStore(dir);
    if (!store.error.empty())
        std::printf("Stored events: unknown (%s)\n", store.error.c_str());
    else
        std::printf("Stored events: %llu in %llu day file%s\n", static_cast<unsigned long long>(store.events),
                    static_cast<unsigned long long>(store.dayFiles), store.dayFiles == 1 ? "" : "s");
}

// One line per transport: receiving (and on which port), off, or not
// receiving and why. False when a transport the settings ask for does not
// receive: the daemon runs but misses what is sent to it.
bool printReception(const std::map<std::string, std::string>& about)
{
    bool receiving = true;
    for (const auto& [key, name] : {std::pair<const char*, const char*>{"udp", "UDP"}, {"tcp", "TCP"}, {"tls", "TLS"}}) {
        const auto state = about.find(std::string(key) + "Reception");
        if (state == about.end())
            continue;  // a daemon that does not tell
        const auto detail = about.find(std::string(key) + "ReceptionDetail");
        const std::string why = detail == about.end() ? std::string() : detail->second;
        if (state->second == "not receiving")
            receiving = false;
        std::printf("%s reception: %s%s%s\n", name, state->second.c_str(),
                    why.empty() ? "" : state->second == "receiving" ? " on " : ": ", why.c_str());
    }
    return receiving;
}

// What the export and mail threads last failed at, as the daemon keeps it
// until their next success. The daemon still receives and stores: these
// do not change the exit status.
void printProblems(const std::map<std::string, std::string>& about)
{
    for (const auto& [key, name] : {std::pair<const char*, const char*>{"textExportProblem", "Text export"},
                                    {"databaseExportProblem", "Database export"},
                                    {"mailProblem", "Mail"}}) {
        const auto it = about.find(key);
        if (it != about.end() && !it->second.empty())
            std::printf("%s problem: %s\n", name, it->second.c_str());
    }
}

// Without --data-dir only the daemon can say where its events are: when it
// could not be asked, status says so rather than naming a directory the
// daemon may not use. `noDaemon`: nothing runs to ask, so the default is
// where a daemon started now would store.
void printStoreNotAsked(const Options& options, const std::string& why, bool noDaemon)
{
    if (options.dataDir)
        printStore(*options.dataDir);
    else if (noDaemon) {
        std::printf("Data directory: could not ask the daemon (%s); the default is %s\n", why.c_str(),
                    std::string(kDefaultDataDirectory).c_str());
        printStore(std::string(kDefaultDataDirectory), false);
    } else
        std::printf("Data directory: unknown, could not ask the daemon (%s); give --data-dir\n", why.c_str());
}

} // namespace

int status(const Options& options)
{
    std::unique_ptr<DaemonProxy> daemon;
    std::uint32_t pid = 0;
    try {
        daemon = std::make_unique<DaemonProxy>();
        pid = nameOwnerPid(*daemon->connection);
    } catch (const sdbus::Error& e) {
        std::printf("BrantwellSrv: unknown, the bus cannot be reached (%s)\n", e.getMessage().c_str());
        printStoreNotAsked(options, "no bus", true);
        return kFailed;
    }
    if (pid == 0) {
        std::printf("BrantwellSrv: not running on this bus\n");
        printStoreNotAsked(options, "not running", true);
        return kFailed;
    }
    std::map<std::string, std::string> about;
    std::map<std::string, std::uint64_t> numbers;
    try {
        about = daemonStatus(*daemon);
        numbers = counters(*daemon);
    } catch (const sdbus::Error& e) {
        std::printf("BrantwellSrv: running (pid %u), not answering\n", pid);
        printStoreNotAsked(options, e.getName() == "org.freedesktop.DBus.Error.AccessDenied" ? "refused" : e.getMessage(),
                           false);
        return reportError(e);
    }
    std::printf("BrantwellSrv: running and answering (pid %u)\n", pid);
    std::printf("Version: %s\n", about["version"].c_str());
    std::printf("UDP port: %s\n", about["port"].c_str());
    const bool receiving = printReception(about);
    printProblems(about);
    printStore(options.dataDir.value_or(about["dataDirectory"]));
    std::printf("Counters:\n");
    for (const auto& [name, value] : numbers)
        std::printf("  %s %llu\n", name.c_str(), static_cast<unsigned long long>(value));
    return receiving ? kOk : kFailed;
}

int stats()
{
    try {
        DaemonProxy daemon;
        for (const auto& [name, value] : counters(daemon))
            std::printf("%s %llu\n", name.c_str(), static_cast<unsigned long long>(value));
        // Per upstream server, whether it is connected or the last error.
        for (const auto& [name, text] : daemonStatus(daemon))
            if (name.starts_with("forward."))
                std::printf("%s.state %s\n", name.c_str(), text.c_str());
        return kOk;
    } catch (const sdbus::Error& e) {
        return reportError(e);
    }
}

} // namespace brantwell::ctl
