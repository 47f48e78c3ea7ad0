// The call to the daemon's setCommand and what its failures mean.
#include <cstdio>

#include <sdbus-c++/sdbus-c++.h>

#include "BusNames.h"
#include "Ctl.h"

namespace brantwell::ctl {

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
        std::fprintf(stderr, "brantwellctl: the daemon rejected the command (%s): %s\n", name.c_str(),
                     e.getMessage().c_str());
        return kRejected;
    }
    if (name == bus::kMailNotSent) {
        std::fprintf(stderr, "brantwellctl: the e-mail was not sent: %s\n", e.getMessage().c_str());
        return kFailed;
    }
    if (name == "org.freedesktop.DBus.Error.ServiceUnknown" || name == "org.freedesktop.DBus.Error.NameHasNoOwner") {
        std::fprintf(stderr, "brantwellctl: BrantwellSrv is not running on this bus\n");
        return kFailed;
    }
    std::fprintf(stderr, "brantwellctl: %s: %s\n", name.c_str(), e.getMessage().c_str());
    return kFailed;
}

DaemonProxy::DaemonProxy()
    : connection(sdbus::createSystemBusConnection()),
      proxy(sdbus::createProxy(*connection, bus::kService, bus::kObjectPath))
{
}

DaemonProxy::~DaemonProxy() = default;

std::map<std::string, std::string> daemonStatus(DaemonProxy& daemon)
{
    std::map<std::string, std::string> status;
    daemon.proxy->callMethod(bus::kGetStatus).onInterface(bus::kInterface).storeResultsTo(status);
    return status;
}

std::string dataDirectory(const Options& options)
{
    if (options.dataDir)
        return *options.dataDir;
    try {
        DaemonProxy daemon;
        const auto status = daemonStatus(daemon);
        if (const auto it = status.find("dataDirectory"); it != status.end() && !it->second.empty())
            return it->second;
    } catch (const sdbus::Error& e) {
        // A daemon that runs but refuses to tell may use another directory:
        // say that the default is a guess. With no daemon to ask, the default
        // is all there is.
        if (e.getName() == "org.freedesktop.DBus.Error.AccessDenied")
            std::fprintf(stderr, "brantwellctl: the daemon refused to tell its data directory (%s); trying %s\n",
                         e.getMessage().c_str(), std::string(kDefaultDataDirectory).c_str());
    }
    return std::string(kDefaultDataDirectory);
}

int sendCommand(const nlohmann::json& command, std::chrono::microseconds timeout)
{
    try {
        DaemonProxy daemon;
        std::string reply;
        daemon.proxy->callMethod(bus::kSetCommand)
            .onInterface(bus::kInterface)
            .withTimeout(timeout)
            .withArguments(command.dump())
            .storeResultsTo(reply);
        std::printf("%s\n", reply.c_str());
        // "Received" is the only answer that means the command was carried out.
        if (reply != bus::kReceived) {
            std::fprintf(stderr, "brantwellctl: unexpected answer from the daemon\n");
            return kFailed;
        }
        return kOk;
    } catch (const sdbus::Error& e) {
        return reportError(e);
    }
}

} // namespace brantwell::ctl
