// stats: the daemon's counters.
#include <cstdint>
#include <cstdio>
#include <map>

#include <sdbus-c++/sdbus-c++.h>

#include "BusNames.h"
#include "Ctl.h"

namespace brantwell::ctl {

int stats()
{
    try {
        auto connection = sdbus::createSystemBusConnection();
        auto proxy = sdbus::createProxy(*connection, bus::kService, bus::kObjectPath);
        std::map<std::string, std::uint64_t> counters;
        proxy->callMethod(bus::kGetStatistics).onInterface(bus::kInterface).storeResultsTo(counters);
        for (const auto& [name, value] : counters)
            std::printf("%s %llu\n", name.c_str(), static_cast<unsigned long long>(value));
        return kOk;
    } catch (const sdbus::Error& e) {
        return reportError(e);
    }
}

} // namespace brantwell::ctl
