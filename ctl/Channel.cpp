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
        auto proxy = sdbus::createProxy(*connection, bus::kService, bus::kObjectPath);
        std::string reply;
        proxy->callMethod(bus::kSetCommand).onInterface(bus::kInterface).withArguments(command.dump()).storeResultsTo(reply);
        std::printf("%s\n", reply.c_str());
        return kOk;
    } catch (const sdbus::Error& e) {
        return reportError(e);
    }
}

} // namespace brantwell::ctl
