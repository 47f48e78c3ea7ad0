#include "CommandChannel.h"

#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
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
// How soon the bus thread looks again while a count, a ping reply or a
// waiting removal is outstanding.
constexpr int kFollowUpMilliseconds = 20;

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

// sdbus-c++ 1.2 gives no access to the sd-bus message under a MethodCall
// either; read the same way.
struct CallAccess : sdbus::MethodCall {
    static sd_bus_message* raw(sdbus::MethodCall& call)
    {
        return static_cast<sd_bus_message*>(call.*(&CallAccess::msg_));
    }
};

// The user id the bus daemon took from the caller's socket when it
// connected: one GetConnectionCredentials round trip, nothing read from
// /proc (a process id can be reused by the time it is read).
std::optional<std::uint32_t> callerUid(sdbus::MethodCall& call)
{
    sd_bus_message* const m = CallAccess::raw(call);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const int rc = sd_bus_call_method(sd_bus_message_get_bus(m), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                      "org.freedesktop.DBus", "GetConnectionCredentials", &error, &reply, "s",
                                      sd_bus_message_get_sender(m));
    sd_bus_error_free(&error);
    if (rc < 0)
        return std::nullopt;
    std::optional<std::uint32_t> uid;
    if (sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "{sv}") > 0) {
        while (sd_bus_message_enter_container(reply, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
            const char* key = nullptr;
            if (sd_bus_message_read(reply, "s", &key) < 0)
                break;
            std::uint32_t value = 0;
            if (std::strcmp(key, "UnixUserID") == 0 && sd_bus_message_read(reply, "v", "u", &value) >= 0)
                uid = value;
            else if (sd_bus_message_skip(reply, "v") < 0)
                break;
            if (sd_bus_message_exit_container(reply) < 0)
                break;
        }
    }
    sd_bus_message_unref(reply);
    return uid;
}

// The groups of a user as the user database has them: its primary group
// and every group that lists it.
std::vector<std::uint32_t> userGroups(std::uint32_t uid)
{
    struct passwd pw {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    while (getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 24))
        buffer.resize(buffer.size() * 2);
    if (!found)
        return {};
    std::vector<gid_t> groups(64);
    int count = static_cast<int>(groups.size());
    while (getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &count) < 0 && count > static_cast<int>(groups.size()))
        groups.resize(static_cast<std::size_t>(count));
    groups.resize(static_cast<std::size_t>(std::max(count, 0)));
    return {groups.begin(), groups.end()};
}

} // namespace

// Whether each caller on the bus may steer the daemon, by unique name,
// decided once per connection and kept until it leaves the bus (a unique
// name is never reused).
class CommandChannel::Callers {
public:
    bool authorised(sdbus::MethodCall& call)
    {
        const std::string sender = call.getSender();
        if (const auto it = known_.find(sender); it != known_.end())
            return it->second;
        const auto uid = callerUid(call);
        if (!uid)
            return false;  // not kept: the bus may answer next time
        const gid_t group = brantwellGroup();
        const bool allowed = isAuthorisedCaller(*uid, userGroups(*uid),
                                                group == static_cast<gid_t>(-1) ? -1 : static_cast<std::int64_t>(group));
        known_.emplace(sender, allowed);
        return allowed;
    }

    void left(const std::string& name) { known_.erase(name); }

private:
    std::map<std::string, bool> known_;
};

bool isAuthorisedCaller(std::uint32_t uid, const std::vector<std::uint32_t>& gids, std::int64_t brantwellGid)
{
    if (uid == 0)
        return true;
    if (brantwellGid < 0)
        return false;
    return std::find(gids.begin(), gids.end(), static_cast<std::uint32_t>(brantwellGid)) != gids.end();
}

CheckedCommand checkCommandText(const std::string& text)
{
    CheckedCommand c;
    c.command = parseBoundedJson(text);
    const auto reject = [&c](std::string why) {
        c.error = kInvalidArgs;
        c.why = std::move(why);
        c.command = nullptr;
        return std::move(c);
    };
    if (!c.command.is_object())
        return reject("the command is not a JSON object nested at most 64 deep");
    const auto name = c.command.find("command");
    if (name == c.command.end() || !name->is_string())
        return reject("the command has no \"command\" text");
    c.name = name->get<std::string>();
    // Exact, case-sensitive names.
    if (c.name == "save" || c.name == "merge") {
        const auto settings = c.command.find("Settings");
        if (settings == c.command.end() || !settings->is_object())
            return reject("\"" + c.name + "\" needs \"Settings\", a dictionary");
    } else if (c.name == "update") {
        const auto events = c.command.find("Events");
        if (events == c.command.end() || !events->is_object())
            return reject("\"update\" needs \"Events\", a dictionary of stored lines");
        if (events->empty())
            return reject("\"update\" names no line in \"Events\"");
    } else if (c.name != "email") {
        return reject("unknown command \"" + c.name + "\" (known: save, merge, email, update)");
    }
    return c;
}

CommandChannel::CommandChannel(CommandHandlers handlers)
    : handlers_(std::move(handlers)), wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    answers_->wakeFd = wakeFd_;
}

CommandChannel::~CommandChannel()
{
    stop();
    {
        std::lock_guard lock(answers_->mutex);
        answers_->wakeFd = -1;
    }
    if (wakeFd_ >= 0)
        close(wakeFd_);
}

void CommandChannel::start()
{
    worker_ = std::jthread([this](std::stop_token stop) { work(stop); });
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

void CommandChannel::answerLater(const std::shared_ptr<Answers>& answers, std::uint64_t id, std::string error,
                                 std::string message)
{
    std::lock_guard lock(answers->mutex);
    if (answers->wakeFd < 0)
        return;  // the channel is gone
    answers->ready.push_back({id, std::move(error), std::move(message)});
    wake(answers->wakeFd);
}

void CommandChannel::work(std::stop_token stop)
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(jobsMutex_);
            // What was asked before the stop is still done: its caller
            // waits for the answer.
            jobsReady_.wait(lock, stop, [this] { return !jobs_.empty(); });
            if (jobs_.empty())
                return;
            job = std::move(jobs_.front());
            jobs_.pop();
        }
        job();
    }
}

void CommandChannel::stop()
{
    {
        // A removal pass waiting for room goes on (and finds nobody to tell).
        std::lock_guard lock(queueMutex_);
        stopping_ = true;
    }
    roomFreed_.notify_all();
    if (thread_.joinable()) {
        thread_.request_stop();
        wake(wakeFd_);
        thread_.join();
    }
    if (worker_.joinable()) {
        worker_.request_stop();
        worker_.join();
    }
}

void CommandChannel::announce(EventType type, std::span<const EventRecord> events)
{
    // Nobody listens: nothing to copy, build or send.
    if (events.empty() || subscriberCount_.load(std::memory_order_relaxed) == 0)
        return;
    std::size_t dropped = 0;
    bool wakeBus = false;
    {
        std::unique_lock lock(queueMutex_);
        if (ring_.empty())
            ring_.resize(kQueueLimit);
        for (const auto& e : events) {
            if (type == EventType::Remove) {
                // The removal pass may wait; its announcements may not be lost.
                while (queued_ >= kQueueLimit - kSetReserve && !stopping_
                       && subscriberCount_.load(std::memory_order_relaxed) > 0) {
                    if (busWaiting_) {
                        busWaiting_ = false;
                        wake(wakeFd_);
                    }
                    roomFreed_.wait(lock);
                }
                if (stopping_ || subscriberCount_.load(std::memory_order_relaxed) == 0)
                    return;
            } else if (queued_ >= kQueueLimit) {
                dropped = events.size() - static_cast<std::size_t>(&e - events.data());
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
        ringDropped_ += dropped;
        // Only a bus thread asleep on an empty ring needs the wake-up; one
        // that is sending or resting between signals looks again by itself.
        wakeBus = busWaiting_;
        busWaiting_ = false;
    }
    if (wakeBus)
        wake(wakeFd_);
}

void CommandChannel::sendAnswers(std::map<std::uint64_t, sdbus::MethodCall>& awaiting)
{
    std::vector<Answers::Answer> ready;
    {
        std::lock_guard lock(answers_->mutex);
        ready.swap(answers_->ready);
    }
    for (const auto& answer : ready) {
        const auto it = awaiting.find(answer.call);
        if (it == awaiting.end())
            continue;  // asked on a bus connection that has gone since
        try {
            if (answer.error.empty()) {
                auto reply = it->second.createReply();
                reply << std::string(bus::kReceived);
                reply.send();
            } else {
                it->second.createErrorReply(sdbus::Error(answer.error, answer.message)).send();
            }
        } catch (const sdbus::Error&) {
            // The caller has gone; nobody is left to tell.
        }
        awaiting.erase(it);
    }
}

std::size_t CommandChannel::takeQueued(std::vector<Pending>& out, bool sleepIfEmpty, bool takeRemoves,
                                       std::uint64_t& missed)
{
    std::lock_guard lock(queueMutex_);
    missed = ringDropped_;
    ringDropped_ = 0;
    std::size_t n = 0;
    const EventType type = queued_ ? ring_[head_].type : EventType::Set;
    if (queued_ && (type == EventType::Set || takeRemoves)) {
        // One type per signal, so that a subscriber that must miss "Set"s
        // never misses a "Remove" with them.
        const std::size_t limit = std::min(queued_, kEventsPerSignal);
        if (out.size() < limit)
            out.resize(limit);
        std::size_t bytes = 0;
        for (; n < limit; ++n) {
            Pending& slot = ring_[(head_ + n) % kQueueLimit];
            if (slot.type != type)
                break;
            bytes += kEventOverhead + slot.event.date.size() + slot.event.priority.size() + slot.event.host.size()
                   + slot.event.message.size();
            if (n > 0 && bytes > kSignalBytes)
                break;
            out[n].type = slot.type;
            out[n].event.date.swap(slot.event.date);
            out[n].event.priority.swap(slot.event.priority);
            out[n].event.host.swap(slot.event.host);
            out[n].event.message.swap(slot.event.message);
        }
        head_ = (head_ + n) % kQueueLimit;
        queued_ -= n;
        roomFreed_.notify_all();
    }
    busWaiting_ = queued_ == 0 && n == 0 && sleepIfEmpty;
    return n;
}

void CommandChannel::discardQueued()
{
    {
        std::lock_guard lock(queueMutex_);
        head_ = queued_ = 0;
        ringDropped_ = 0;
    }
    roomFreed_.notify_all();
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
        // The subscribers went with the connection; they subscribe again.
        subscriberCount_ = 0;
        discardQueued();
        // Retry in five seconds, or stop at once.
        for (int i = 0; i < 50 && !stop.stop_requested(); ++i) {
            pollfd w{wakeFd_, POLLIN, 0};
            if (poll(&w, 1, 100) > 0)
                drain(wakeFd_);
        }
    }
}

using Clock = std::chrono::steady_clock;

// What the bus thread knows of one subscriber.
struct CommandChannel::Subscriber {
    std::unique_ptr<sdbus::IProxy> peer;  // for the pings
    std::uint64_t sent = 0;               // announcements sent to it
    std::uint64_t confirmed = 0;          // of those, read (a ping came back after them)
    std::uint64_t sentBytes = 0;          // the same in bytes, as the bus holds them
    std::uint64_t confirmedBytes = 0;
    std::uint64_t missed = 0;             // not sent, not yet told
    std::uint64_t pingAt = 0;             // `sent` when the outstanding ping left
    std::uint64_t pingAtBytes = 0;
    bool pinging = false;
    Clock::time_point pingSince{};        // when the last ping left
    // Since when its pings go unanswered (every ping answered: unset).
    std::optional<Clock::time_point> unansweredSince;

    std::uint64_t unreadBytes() const { return sentBytes - confirmedBytes; }
    bool open() const { return sent - confirmed < kWindow && unreadBytes() < kWindowBytes; }
    bool stalled(Clock::time_point now) const { return unansweredSince && now - *unansweredSince > kStallAfter; }
    bool silent(Clock::time_point now) const { return unansweredSince && now - *unansweredSince >= kDropAfter; }
};

// The subscribers of one bus connection, by unique bus name; used on the
// bus thread only.
class CommandChannel::Subscribers {
public:
    Subscribers(CommandChannel& channel, sdbus::IConnection& connection, sdbus::IObject& object)
        : channel_(channel), connection_(connection), object_(object)
    {
    }
    ~Subscribers() { channel_.subscriberCount_ = 0; }

    bool empty() const { return table_.empty(); }

    void add(const std::string& name)
    {
        if (table_.contains(name))
            return;
        auto& s = table_[name];
        s.peer = sdbus::createProxy(connection_, name, "/");
        channel_.subscriberCount_ = table_.size();
        // At once: a caller that left before it was noted is found out.
        ping(name, s);
    }

    // Noted now, done after the bus messages in hand: the callbacks that
    // ask for it run inside the objects they would destroy.
    void remove(const std::string& name)
    {
        if (table_.contains(name))
            leaving_.push_back(name);
    }

    void settle()
    {
        for (const auto& name : leaving_) {
            if (const auto it = table_.find(name); it != table_.end()) {
                unreadBytes_ -= it->second.unreadBytes();
                table_.erase(it);
            }
        }
        if (!leaving_.empty()) {
            leaving_.clear();
            channel_.subscriberCount_ = table_.size();
            if (table_.empty())
                channel_.discardQueued();
        }
    }

    // Whether a "Remove" may go out now: every subscriber still reading
    // has room for it.
    bool roomForRemoves(Clock::time_point now) const
    {
        return unreadBytes_ < kAllSubscribersBytes
               && std::all_of(table_.begin(), table_.end(),
                              [now](const auto& entry) { return entry.second.open() || entry.second.stalled(now); });
    }

    void missedByAll(std::uint64_t count)
    {
        if (count == 0)
            return;
        for (auto& [name, s] : table_)
            s.missed += count;
        channel_.dropped_.fetch_add(count * table_.size(), std::memory_order_relaxed);
    }

    // One signal to every subscriber with room; the others miss the events
    // and are told later. Room is the subscriber's own window and what the
    // bus daemon holds unread for all of them: it counts that against the
    // daemon's connection, and stops reading from it at its limit.
    void send(std::span<const Pending> events, std::string& scratch)
    {
        std::uint64_t bytes = 0;
        for (const auto& [type, e] : events)
            bytes += kEventOverhead + e.date.size() + e.priority.size() + e.host.size() + e.message.size();
        for (auto& [name, s] : table_) {
            if (!s.open() || unreadBytes_ + bytes > kAllSubscribersBytes) {
                s.missed += events.size();
                channel_.dropped_.fetch_add(events.size(), std::memory_order_relaxed);
                continue;
            }
            auto signal = object_.createSignal(bus::kInterface, bus::kEventSignal);
            signal.setDestination(name);
            appendEvents(signal, events, scratch);
            object_.emitSignal(signal);
            s.sent += events.size();
            s.sentBytes += bytes;
            unreadBytes_ += bytes;
            channel_.signalled_.fetch_add(events.size(), std::memory_order_relaxed);
            channel_.eventSignals_.fetch_add(1, std::memory_order_relaxed);
        }
    }

    // Tells what was missed, asks for reading progress, drops a subscriber
    // that answered no ping for kDropAfter; returns whether it must look
    // again soon (a count or a ping waits).
    bool followUp(Clock::time_point now)
    {
        bool again = false;
        for (auto& [name, s] : table_) {
            if (s.silent(now)) {
                // Its unread signals stay with the bus daemon until it
                // reads or leaves; it may subscribe again.
                remove(name);
                channel_.droppedSubscribers_.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            if (s.missed > 0 && s.open()) {
                auto signal = object_.createSignal(bus::kInterface, bus::kEventsDroppedSignal);
                signal.setDestination(name);
                signal << static_cast<std::uint64_t>(s.missed);
                object_.emitSignal(signal);
                s.missed = 0;
                s.sent += 1;
                s.sentBytes += kEventOverhead;
                unreadBytes_ += kEventOverhead;
                channel_.droppedSignals_.fetch_add(1, std::memory_order_relaxed);
            }
            // Something unread to learn about, or a ping that was refused
            // or failed to repeat (less often).
            const bool unread = s.sent > s.confirmed;
            if (!s.pinging
                && ((unread && (s.sent - s.confirmed >= kPingEvery || s.unreadBytes() >= kWindowBytes / 4
                                || now - s.pingSince >= kPingPause))
                    || (s.unansweredSince && now - s.pingSince >= kRepingPause)))
                ping(name, s);
            again = again || s.missed > 0 || unread || s.pinging || s.unansweredSince.has_value();
        }
        return again;
    }

private:
    static constexpr auto kPingPause = std::chrono::milliseconds(100);
    static constexpr auto kRepingPause = std::chrono::seconds(1);

    void ping(const std::string& name, Subscriber& s)
    {
        s.pinging = true;
        s.pingAt = s.sent;
        s.pingAtBytes = s.sentBytes;
        s.pingSince = Clock::now();
        if (!s.unansweredSince)
            s.unansweredSince = s.pingSince;
        s.peer->callMethodAsync("Ping")
            .onInterface("org.freedesktop.DBus.Peer")
            .withTimeout(kDropAfter)
            .uponReplyInvoke([this, name](const sdbus::Error* error) { pong(name, error); });
    }

    void pong(const std::string& name, const sdbus::Error* error)
    {
        const auto it = table_.find(name);
        if (it == table_.end())
            return;
        Subscriber& s = it->second;
        s.pinging = false;
        if (error) {
            const auto& e = error->getName();
            if (e == "org.freedesktop.DBus.Error.ServiceUnknown" || e == "org.freedesktop.DBus.Error.NameHasNoOwner"
                || e == "org.freedesktop.DBus.Error.Disconnected")
                remove(name);
            // Any other error (no answer in time, the bus's policy refused
            // the ping, its queue is full, a peer without Ping) shows
            // nothing read: the window stays as it is.
            return;
        }
        s.confirmed = std::max(s.confirmed, s.pingAt);
        if (s.pingAtBytes > s.confirmedBytes) {
            unreadBytes_ -= s.pingAtBytes - s.confirmedBytes;
            s.confirmedBytes = s.pingAtBytes;
        }
        s.unansweredSince.reset();
    }

    CommandChannel& channel_;
    sdbus::IConnection& connection_;
    sdbus::IObject& object_;
    std::map<std::string, Subscriber> table_;
    std::vector<std::string> leaving_;
    std::uint64_t unreadBytes_ = 0;  // sent to all subscribers, not known read
};

void CommandChannel::serve(std::stop_token stop)
{
    auto connection = sdbus::createSystemBusConnection(bus::kService);
    // Calls whose answer a worker gives later, by number; touched only here.
    std::map<std::uint64_t, sdbus::MethodCall> awaiting;
    std::uint64_t lastCall = 0;
    auto object = sdbus::createObject(*connection, bus::kObjectPath);
    Subscribers subscribers(*this, *connection, *object);
    Callers callers;
    // A subscriber (or any caller) that leaves the bus is forgotten.
    connection->addMatch("type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
                         "interface='org.freedesktop.DBus',member='NameOwnerChanged'",
                         [&subscribers, &callers](sdbus::Message& m) {
                             std::string name, oldOwner, newOwner;
                             m >> name >> oldOwner >> newOwner;
                             if (newOwner.empty()) {
                                 subscribers.remove(name);
                                 callers.left(name);
                             }
                         },
                         sdbus::floating_slot);
    const auto refuse = [&callers](sdbus::MethodCall& call, const char* what) {
        if (callers.authorised(call))
            return false;
        call.createErrorReply(sdbus::Error(kAccessDenied, std::string("only root and members of group brantwell may ") + what))
            .send();
        return true;
    };
    object->registerMethod(bus::kInterface, bus::kSetCommand, "s", "s", [this, &refuse, &awaiting, &lastCall](sdbus::MethodCall call) {
        if (refuse(call, "steer BrantwellSrv"))
            return;
        std::string text;
        call >> text;
        auto checked = checkCommandText(text);
        if (!checked.error.empty()) {
            // Nothing ran: the caller is told what was wrong.
            call.createErrorReply(sdbus::Error(checked.error, checked.why)).send();
            return;
        }
        const std::uint64_t id = ++lastCall;
        if (checked.name == "email") {
            if (!handlers_.email) {
                call.createErrorReply(sdbus::Error(kFailed, "this daemon sends no e-mail")).send();
                return;
            }
            awaiting.emplace(id, call);
            handlers_.email(checked.command, [answers = answers_, id](const std::string& failure) {
                answerLater(answers, id, failure.empty() ? std::string() : std::string(bus::kMailNotSent), failure);
            });
            return;
        }
        const auto& handler = checked.name == "save" ? handlers_.save : checked.name == "merge" ? handlers_.merge : handlers_.update;
        if (!handler) {
            call.createErrorReply(sdbus::Error(kFailed, "this daemon does not carry out \"" + checked.name + "\"")).send();
            return;
        }
        awaiting.emplace(id, call);
        // Answered once done, from the command worker: a long rewrite holds
        // up no call, ping or announcement.
        {
            std::lock_guard lock(jobsMutex_);
            jobs_.push([answers = answers_, id, &handler, command = std::move(checked.command)] {
                try {
                    handler(command);
                    answerLater(answers, id, {}, {});
                } catch (const CommandError& e) {
                    answerLater(answers, id, e.name, e.what());
                } catch (const std::exception& e) {
                    // A command that could not be carried out is not "Received".
                    answerLater(answers, id, kFailed, e.what());
                }
            });
        }
        jobsReady_.notify_one();
    });
    object->registerMethod(bus::kInterface, bus::kGetStatistics, "", "a{st}", [this, &refuse](sdbus::MethodCall call) {
        if (refuse(call, "read the statistics"))
            return;
        auto counters = handlers_.statistics ? handlers_.statistics() : std::map<std::string, std::uint64_t>{};
        counters["signalledEvents"] = signalled_.load();
        counters["signalDroppedEvents"] = dropped_.load();
        counters["subscribers"] = subscriberCount_.load();
        counters["eventSignalsSent"] = eventSignals_.load();
        counters["eventsDroppedSignalsSent"] = droppedSignals_.load();
        counters["subscribersDropped"] = droppedSubscribers_.load();
        auto reply = call.createReply();
        reply << counters;
        reply.send();
    });
    object->registerMethod(bus::kInterface, bus::kGetStatus, "", "a{ss}", [this, &refuse](sdbus::MethodCall call) {
        if (refuse(call, "read the status"))
            return;
        auto reply = call.createReply();
        reply << (handlers_.status ? handlers_.status() : std::map<std::string, std::string>{});
        reply.send();
    });
    object->registerMethod(bus::kInterface, bus::kSubscribe, "", "", [&refuse, &subscribers](sdbus::MethodCall call) {
        if (refuse(call, "receive the events"))
            return;
        subscribers.add(call.getSender());
        call.createReply().send();
    });
    object->registerMethod(bus::kInterface, bus::kUnsubscribe, "", "", [&refuse, &subscribers](sdbus::MethodCall call) {
        if (refuse(call, "receive the events"))
            return;
        subscribers.remove(call.getSender());
        call.createReply().send();
    });
    object->registerSignal(bus::kInterface, bus::kEventSignal, "aa{ss}");
    object->registerSignal(bus::kInterface, bus::kEventsDroppedSignal, "t");
    object->finishRegistration();
    connected_ = true;

    std::vector<Pending> pending;
    std::string scratch;
    // After a signal the thread rests for kSignalInterval before it takes
    // the next: a lone event goes out at once, a steady stream goes out in
    // a few hundred signals a second instead of one per received batch.
    // Per-signal work (building, sending, waking this thread) then no
    // longer grows with the rate.
    auto restUntil = Clock::time_point::min();
    while (!stop.stop_requested()) {
        // Everything the bus has for us first, then the answers the
        // workers have ready, then the announcements.
        while (connection->processPendingRequest()) {
        }
        subscribers.settle();
        sendAnswers(awaiting);
        bool lookSoon = false;
        if (Clock::now() >= restUntil) {
            bool sent = false;
            for (;;) {
                std::uint64_t missed = 0;
                const bool takeRemoves = subscribers.roomForRemoves(Clock::now());
                const std::size_t n = takeQueued(pending, !sent, takeRemoves, missed);
                subscribers.missedByAll(missed);
                if (n == 0) {
                    // A removal waits for a subscriber to read on.
                    lookSoon = !takeRemoves;
                    break;
                }
                subscribers.send(std::span<const Pending>(pending.data(), n), scratch);
                sent = true;
            }
            if (sent)
                restUntil = Clock::now() + kSignalInterval;
        }
        if (!subscribers.empty())
            lookSoon = subscribers.followUp(Clock::now()) || lookSoon;
        const auto poll_data = connection->getEventLoopPollData();
        pollfd fds[2] = {{poll_data.fd, poll_data.events, 0}, {wakeFd_, POLLIN, 0}};
        int timeout = -1;
        if (const auto relative = poll_data.getRelativeTimeout())
            timeout = static_cast<int>(std::min<long long>(relative->count() / 1000 + 1, 60000));
        const auto shorten = [&timeout](long long ms) {
            timeout = timeout < 0 ? static_cast<int>(ms) : std::min(timeout, static_cast<int>(ms));
        };
        if (Clock::now() < restUntil)
            shorten(std::chrono::ceil<std::chrono::milliseconds>(restUntil - Clock::now()).count());
        if (lookSoon)
            shorten(kFollowUpMilliseconds);
        if (poll(fds, 2, timeout) > 0 && (fds[1].revents & POLLIN))
            drain(wakeFd_);
        if (fds[0].revents & (POLLHUP | POLLERR))
            throw sdbus::Error("org.freedesktop.DBus.Error.Disconnected", "the bus went away");
    }
    connected_ = false;
}

} // namespace brantwell
