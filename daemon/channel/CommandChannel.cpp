#include "CommandChannel.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include <nlohmann/json.hpp>
#include <sdbus-c++/sdbus-c++.h>
#include <systemd/sd-bus.h>

#include "BoundedJson.h"
#include "BusNames.h"
#include "BusText.h"
#include "util/FileUtil.h"
#include "SettingsValue.h"

namespace brantwell {

namespace {

constexpr const char* kAccessDenied = "org.freedesktop.DBus.Error.AccessDenied";
constexpr const char* kInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
constexpr const char* kFailed = "org.freedesktop.DBus.Error.Failed";
constexpr int kBusThreadNice = 10;

void wake(int fd)
{
    const std::uint64_t one = 1;
    (void)!write(fd, &one, sizeof one);
}

void drain(int fd)
{
    std::uint64_t value;
    (void)!read(fd, &value, sizeof value);
}

// sdbus-c++ 1.2 gives no access to the sd-bus message under a Signal. A
// pointer to the protected member, formed through a derived class, reads it
// from any Signal.
struct SignalAccess : sdbus::Signal {
    static sd_bus_message* raw(sdbus::Signal& signal)
    {
        return static_cast<sd_bus_message*>(signal.*(&SignalAccess::msg_));
    }
};

void check(int result, const char* step)
{
    if (result < 0)
        throw sdbus::Error("org.freedesktop.DBus.Error.Failed",
                           std::string("cannot build the event signal: ") + step + ": " + std::strerror(-result));
}

// Text the bus takes as it is, copied into space reserved in the message.
// sd-bus's own append would check every byte as UTF-8 with a call per byte,
// the largest cost of a signal.
void appendVerbatim(sd_bus_message* m, std::string_view text)
{
    char* space = nullptr;
    check(sd_bus_message_append_string_space(m, text.size(), &space), "string");
    std::memcpy(space, text.data(), text.size());
}

// Any text, checked here instead (received texts are printable ASCII; lines
// read back from files may hold anything): what the bus would refuse is
// replaced rather than costing the connection.
void appendText(sd_bus_message* m, std::string_view text, std::string& scratch)
{
    if (!isBusText(text)) {
        toBusText(text, scratch);
        text = scratch;
    }
    appendVerbatim(m, text);
}

// Appends the events as aa{ss}, in the key order of a sorted dictionary,
// without building a map per event first.
void appendEvents(sdbus::Signal& signal, std::span<const CommandChannel::Pending> events, std::string& scratch)
{
    sd_bus_message* const m = SignalAccess::raw(signal);
    check(sd_bus_message_open_container(m, SD_BUS_TYPE_ARRAY, "a{ss}"), "list");
    for (const auto& [type, e] : events) {
        check(sd_bus_message_open_container(m, SD_BUS_TYPE_ARRAY, "{ss}"), "event");
        // Keys and the type are our own ASCII constants; only values are checked.
        const auto entry = [&](std::string_view key, std::string_view value, bool ownText = false) {
            check(sd_bus_message_open_container(m, SD_BUS_TYPE_DICT_ENTRY, "ss"), "entry");
            appendVerbatim(m, key);
            if (ownText)
                appendVerbatim(m, value);
            else
                appendText(m, value, scratch);
            check(sd_bus_message_close_container(m), "entry");
        };
        entry("Date", e.date);
        entry("Host", e.host);
        entry("Message", e.message);
        entry("Priority", e.priority);
        entry("Type", type == EventType::Set ? "Set" : "Remove", true);
        check(sd_bus_message_close_container(m), "event");
    }
    check(sd_bus_message_close_container(m), "list");
}

// The caller's credentials as the bus reports them; not authorised when
// they cannot be had.
bool callerAuthorised(const sdbus::MethodCall& call)
{
    try {
        std::vector<std::uint32_t> gids;
        gids.push_back(call.getCredsGid());
        gids.push_back(call.getCredsEgid());
        for (auto g : call.getCredsSupplementaryGids())
            gids.push_back(g);
        const gid_t group = brantwellGroup();
        return isAuthorisedCaller(call.getCredsUid(), gids,
                                  group == static_cast<gid_t>(-1) ? -1 : static_cast<std::int64_t>(group));
    } catch (const sdbus::Error&) {
        // Some credentials (supplementary groups) may be unavailable;
        // the user id alone still decides for root.
        try {
            return call.getCredsUid() == 0;
        } catch (const sdbus::Error&) {
            return false;
        }
    }
}

} // namespace

bool isAuthorisedCaller(std::uint32_t uid, const std::vector<std::uint32_t>& gids, std::int64_t brantwellGid)
{
    if (uid == 0)
        return true;
    if (brantwellGid < 0)
        return false;
    return std::find(gids.begin(), gids.end(), static_cast<std::uint32_t>(brantwellGid)) != gids.end();
}

bool runCommandText(const std::string& text, const CommandHandlers& handlers)
{
    const auto command = parseBoundedJson(text);
    if (!command.is_object())
        return false;
    const auto name = readString(command, "command");
    // Exact, case-sensitive names; anything else is answered and ignored.
    if (name == "save" && handlers.save)
        handlers.save(command);
    else if (name == "email" && handlers.email)
        handlers.email(command);
    else if (name == "update" && handlers.update)
        handlers.update(command);
    return true;
}

CommandChannel::CommandChannel(CommandHandlers handlers)
    : handlers_(std::move(handlers)), wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

CommandChannel::~CommandChannel()
{
    stop();
    if (wakeFd_ >= 0)
        close(wakeFd_);
}

void CommandChannel::start()
{
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

void CommandChannel::stop()
{
    if (!thread_.joinable())
        return;
    thread_.request_stop();
    wake(wakeFd_);
    thread_.join();
}

void CommandChannel::announce(EventType type, std::span<const EventRecord> events)
{
    if (events.empty())
        return;
    std::size_t dropped = 0;
    bool wakeBus = false;
    {
        std::lock_guard lock(queueMutex_);
        // Only a bus thread asleep on an empty ring needs the wake-up; one
        // that is sending or resting between signals looks again by itself.
        wakeBus = busWaiting_;
        busWaiting_ = false;
        if (ring_.empty())
            ring_.resize(kQueueLimit);
        for (const auto& e : events) {
            if (queued_ >= kQueueLimit) {
                dropped += events.size() - static_cast<std::size_t>(&e - events.data());
                break;
            }
            Pending& slot = ring_[(head_ + queued_) % kQueueLimit];
            slot.type = type;
            slot.event.date.assign(e.date);  // assign keeps the slot's buffers
            slot.event.priority.assign(e.priority);
            slot.event.host.assign(e.host);
            slot.event.message.assign(e.message);
            ++queued_;
        }
    }
    if (dropped)
        dropped_.fetch_add(dropped, std::memory_order_relaxed);
    if (wakeBus)
        wake(wakeFd_);
}

std::size_t CommandChannel::takeQueued(std::vector<Pending>& out, bool sleepIfEmpty)
{
    std::lock_guard lock(queueMutex_);
    const std::size_t n = std::min(queued_, kEventsPerSignal);
    busWaiting_ = n == 0 && sleepIfEmpty;
    if (out.size() < n)
        out.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        Pending& slot = ring_[(head_ + i) % kQueueLimit];
        out[i].type = slot.type;
        out[i].event.date.swap(slot.event.date);
        out[i].event.priority.swap(slot.event.priority);
        out[i].event.host.swap(slot.event.host);
        out[i].event.message.swap(slot.event.message);
    }
    head_ = (head_ + n) % kQueueLimit;
    queued_ -= n;
    return n;
}

void CommandChannel::run(std::stop_token stop)
{
    // Storing comes first: when the receiver and this thread want the same
    // core, the receiver wins and the signal queue overflows (counted)
    // instead of the socket.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kBusThreadNice);
    bool reported = false;
    while (!stop.stop_requested()) {
        try {
            serve(stop);
            reported = false;
        } catch (const sdbus::Error& e) {
            connected_ = false;
            if (!reported) {
                std::fprintf(stderr,
                             "BrantwellSrv: command channel down (%s); receiving and storing go on\n",
                             e.what());
                reported = true;
            }
        }
        // Nobody can listen while there is no bus: what was queued is dropped.
        {
            std::lock_guard lock(queueMutex_);
            dropped_.fetch_add(queued_, std::memory_order_relaxed);
            head_ = queued_ = 0;
        }
        // Retry in five seconds, or stop at once.
        for (int i = 0; i < 50 && !stop.stop_requested(); ++i) {
            pollfd w{wakeFd_, POLLIN, 0};
            if (poll(&w, 1, 100) > 0)
                drain(wakeFd_);
        }
    }
}

void CommandChannel::serve(std::stop_token stop)
{
    auto connection = sdbus::createSystemBusConnection(bus::kService);
    auto object = sdbus::createObject(*connection, bus::kObjectPath);
    object->registerMethod(bus::kInterface, bus::kSetCommand, "s", "s", [this](sdbus::MethodCall call) {
        if (!callerAuthorised(call)) {
            call.createErrorReply(sdbus::Error(kAccessDenied, "only root and members of group brantwell may steer BrantwellSrv"))
                .send();
            return;
        }
        std::string text;
        call >> text;
        try {
            if (!runCommandText(text, handlers_)) {
                call.createErrorReply(sdbus::Error(kInvalidArgs, "the command is not a JSON object nested at most 64 deep")).send();
                return;
            }
        } catch (const std::exception& e) {
            // A command that could not be carried out is not "Received".
            call.createErrorReply(sdbus::Error(kFailed, e.what())).send();
            return;
        }
        auto reply = call.createReply();
        reply << std::string(bus::kReceived);
        reply.send();
    });
    object->registerMethod(bus::kInterface, bus::kGetStatistics, "", "a{st}", [this](sdbus::MethodCall call) {
        if (!callerAuthorised(call)) {
            call.createErrorReply(sdbus::Error(kAccessDenied, "only root and members of group brantwell may read the statistics"))
                .send();
            return;
        }
        auto counters = handlers_.statistics ? handlers_.statistics() : std::map<std::string, std::uint64_t>{};
        counters["signalledEvents"] = signalled_.load();
        counters["signalDroppedEvents"] = dropped_.load();
        auto reply = call.createReply();
        reply << counters;
        reply.send();
    });
    object->registerMethod(bus::kInterface, bus::kGetStatus, "", "a{ss}", [this](sdbus::MethodCall call) {
        if (!callerAuthorised(call)) {
            call.createErrorReply(sdbus::Error(kAccessDenied, "only root and members of group brantwell may read the status"))
                .send();
            return;
        }
        auto reply = call.createReply();
        reply << (handlers_.status ? handlers_.status() : std::map<std::string, std::string>{});
        reply.send();
    });
    object->registerSignal(bus::kInterface, bus::kEventSignal, "aa{ss}");
    object->finishRegistration();
    connected_ = true;

    std::vector<Pending> pending;
    std::string scratch;
    using Clock = std::chrono::steady_clock;
    // After a signal the thread rests for kSignalInterval before it takes
    // the next: a lone event goes out at once, a steady stream goes out in
    // a few hundred signals a second instead of one per received batch.
    // Per-signal work (building, sending, waking this thread) then no
    // longer grows with the rate.
    auto restUntil = Clock::time_point::min();
    while (!stop.stop_requested()) {
        // Everything the bus has for us first, then the announcements.
        while (connection->processPendingRequest()) {
        }
        const bool resting = Clock::now() < restUntil;
        if (!resting) {
            bool sent = false;
            for (;;) {
                const std::size_t n = takeQueued(pending, !sent);
                if (n == 0)
                    break;
                auto signal = object->createSignal(bus::kInterface, bus::kEventSignal);
                appendEvents(signal, std::span<const Pending>(pending.data(), n), scratch);
                object->emitSignal(signal);
                signalled_.fetch_add(n, std::memory_order_relaxed);
                sent = true;
            }
            if (sent)
                restUntil = Clock::now() + kSignalInterval;
        }
        const auto poll_data = connection->getEventLoopPollData();
        pollfd fds[2] = {{poll_data.fd, poll_data.events, 0}, {wakeFd_, POLLIN, 0}};
        int timeout = -1;
        if (const auto relative = poll_data.getRelativeTimeout())
            timeout = static_cast<int>(std::min<long long>(relative->count() / 1000 + 1, 60000));
        if (Clock::now() < restUntil) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(restUntil - Clock::now()).count();
            timeout = timeout < 0 ? static_cast<int>(left) : std::min(timeout, static_cast<int>(left));
        }
        if (poll(fds, 2, timeout) > 0 && (fds[1].revents & POLLIN))
            drain(wakeFd_);
        if (fds[0].revents & (POLLHUP | POLLERR))
            throw sdbus::Error("org.freedesktop.DBus.Error.Disconnected", "the bus went away");
    }
    connected_ = false;
}

} // namespace brantwell
