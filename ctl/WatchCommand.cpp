// watch: subscribes to the daemon's announcements and prints each event as
// its type and its stored line, and follows the daemon across restarts.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include <sdbus-c++/sdbus-c++.h>

#include "BusNames.h"
#include "Ctl.h"
#include "EventRecord.h"
#include "EventSignal.h"

namespace brantwell::ctl {

namespace {

constexpr char kBus[] = "org.freedesktop.DBus";
constexpr char kBusPath[] = "/org/freedesktop/DBus";

// Appends each event of one signal as "Type Date,Priority,Host,Message",
// the line read with the parser every reader of the store uses.
void printEvents(const bus::EventSignal& signal, std::string& out)
{
    bool whole = true;
    forEachStoredLine(signal.lines, [&](std::string_view line) {
        const auto record = splitEventLine(line);
        if (!record) {
            whole = false;
            return;
        }
        out.append(signal.type).append(" ");
        appendEventLine(out, *record);
    });
    if (!whole)
        std::fprintf(stderr, "brantwellctl: an announced line that is no event was left out\n");
}

} // namespace

int watch()
{
    try {
        auto connection = sdbus::createSystemBusConnection();
        std::string owner;  // the daemon's unique name: only its signals are events
        std::optional<sdbus::Error> failed;  // the restarted daemon's answer to Subscribe
        std::string out;
        const auto flush = [&out] {
            std::fwrite(out.data(), 1, out.size(), stdout);
            std::fflush(stdout);
            out.clear();
        };
        auto daemon = sdbus::createProxy(*connection, bus::kService, bus::kObjectPath);
        // A restarted daemon knows no subscribers: subscribe again, without
        // waiting here for its answer.
        const auto resubscribe = [&] {
            daemon->callMethodAsync(bus::kSubscribe).onInterface(bus::kInterface).uponReplyInvoke([&](const sdbus::Error* error) {
                if (error) {
                    failed.emplace(*error);
                    connection->leaveEventLoop();
                } else {
                    std::fprintf(stderr, "brantwellctl: watching again\n");
                }
            });
        };
        connection->addMatch(std::string("type='signal',sender='") + kBus + "',path='" + kBusPath + "',interface='" + kBus
                                 + "',member='NameOwnerChanged',arg0='" + bus::kService + "'",
                             [&](sdbus::Message& m) {
                                 std::string name, before, after;
                                 m >> name >> before >> after;
                                 if (name != bus::kService || after == owner)
                                     return;
                                 owner = after;
                                 if (owner.empty())
                                     std::fprintf(stderr, "brantwellctl: BrantwellSrv left the bus; waiting for it\n");
                                 else
                                     resubscribe();
                             },
                             sdbus::floating_slot);
        const std::string events = std::string("type='signal',path='") + bus::kObjectPath + "',interface='" + bus::kInterface + "'";
        connection->addMatch(events + ",member='" + bus::kEventSignal + "'", [&](sdbus::Message& m) {
            // Signals of the same shape from any other peer are no events.
            if (m.getSender() != owner)
                return;
            bus::EventSignal signal;
            if (!bus::readEventSignal(m, signal)) {
                std::fprintf(stderr, "brantwellctl: an event signal that could not be read was left out\n");
                return;
            }
            printEvents(signal, out);
            flush();
        }, sdbus::floating_slot);
        connection->addMatch(events + ",member='" + bus::kEventsDroppedSignal + "'", [&](sdbus::Message& m) {
            if (m.getSender() != owner)
                return;
            // The daemon had to leave events out: say how many.
            std::uint64_t count = 0;
            m >> count;
            out += "Dropped " + std::to_string(count) + "\n";
            flush();
        }, sdbus::floating_slot);

        auto busDaemon = sdbus::createProxy(*connection, kBus, kBusPath);
        busDaemon->callMethod("GetNameOwner").onInterface(kBus).withArguments(std::string(bus::kService)).storeResultsTo(owner);
        // The daemon sends its events to subscribers only.
        daemon->callMethod(bus::kSubscribe).onInterface(bus::kInterface);
        // Tells a script that the subscription is in place.
        std::fprintf(stderr, "brantwellctl: watching\n");
        connection->enterEventLoop();
        flush();
        // Said as for a first subscription (exit 3 for a refusal).
        return failed ? reportError(*failed) : kOk;
    } catch (const sdbus::Error& e) {
        return reportError(e);
    }
}

} // namespace brantwell::ctl
