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
#include "BrantwellAdaptor.h"
#include "BusNames.h"
#include "util/FileUtil.h"
#include "SettingsValue.h"

namespace brantwell {

namespace {

constexpr const char* kAccessDenied = "org.freedesktop.DBus.Error.AccessDenied";
constexpr const char* kInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
constexpr const char* kFailed = "org.freedesktop.DBus.Error.Failed";
constexpr int kBusThreadNice = 10;
using Clock = std::chrono::steady_clock;
// Generated from shared/dbus/com.Corvanta.BrantwellSrv.xml.
using Adaptor = com::Corvanta::BrantwellSrv::MyXPCProtocol_adaptor;
static_assert(std::string_view(Adaptor::INTERFACE_NAME) == bus::kInterface);

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

// sdbus-c++ 1.2 gives no access to the sd-bus message under a MethodCall
// either; read the same way.
struct CallAccess : sdbus::Message {
    static sd_bus_message* raw(const sdbus::Message& call)
    {
        return static_cast<sd_bus_message*>(call.*(&CallAccess::msg_));
    }
};

// The user id the bus daemon took from the caller's socket when it
// connected: one GetConnectionCredentials round trip, nothing read from
// /proc (a process id can be reused by the time it is read).
std::optional<std::uint32_t> callerUid(const sdbus::Message& call)
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
    bool authorised(const sdbus::Message& call)
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
    // A removal pass waiting for room goes on (and finds nobody to tell).
    announcements_.stop();
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

void CommandChannel::sendAnswers(std::map<std::uint64_t, sdbus::Result<std::string>>& awaiting)
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
            if (answer.error.empty())
                it->second.returnResults(std::string(bus::kReceived));
            else
                it->second.returnError(sdbus::Error(answer.error, answer.message));
        } catch (const sdbus::Error&) {
            // The caller has gone; nobody is left to tell.
        }
        awaiting.erase(it);
    }
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
        announcements_.setSubscriberCount(0);
        announcements_.discard();
        // Retry in five seconds, or stop at once.
        for (int i = 0; i < 50 && !stop.stop_requested(); ++i) {
            pollfd w{wakeFd_, POLLIN, 0};
            if (poll(&w, 1, 100) > 0)
                drain(wakeFd_);
        }
    }
}

// The object on the bus, its methods and signals as the interface's XML
// describes them (the adaptor is generated from it). Each call is answered
// only to callers that may steer the daemon.
class CommandChannel::BusObject final : public sdbus::AdaptorInterfaces<Adaptor> {
public:
    BusObject(CommandChannel& channel, sdbus::IConnection& connection, Callers& callers)
        : AdaptorInterfaces(connection, bus::kObjectPath), channel_(channel), callers_(callers)
    {
    }
    ~BusObject() { unregisterAdaptor(); }
    // Published once the subscribers are there to take Subscribe.
    void publish(Subscribers& subscribers)
    {
        subscribers_ = &subscribers;
        registerAdaptor();
    }
    sdbus::IObject& object() { return getObject(); }

    // Calls whose answer a worker gives later, by number.
    std::map<std::uint64_t, sdbus::Result<std::string>> awaiting;

private:
    // The caller of the call being served, when it may not: AccessDenied.
    void refuseOthers(const char* what)
    {
        const sdbus::Message* call = getObject().getCurrentlyProcessedMessage();
        if (!call || !callers_.authorised(*call))
            throw sdbus::Error(kAccessDenied, std::string("only root and members of group brantwell may ") + what);
    }
    std::string caller() { return getObject().getCurrentlyProcessedMessage()->getSender(); }

    void setCommand(sdbus::Result<std::string>&& result, std::string text) override
    {
        refuseOthers("steer BrantwellSrv");
        auto checked = checkCommandText(text);
        // Nothing ran: the caller is told what was wrong.
        if (!checked.error.empty())
            throw sdbus::Error(checked.error, checked.why);
        auto& handlers = channel_.handlers_;
        const std::uint64_t id = ++lastCall_;
        if (checked.name == "email") {
            if (!handlers.email)
                throw sdbus::Error(kFailed, "this daemon sends no e-mail");
            awaiting.emplace(id, std::move(result));
            handlers.email(checked.command, [answers = channel_.answers_, id](const std::string& failure) {
                answerLater(answers, id, failure.empty() ? std::string() : std::string(bus::kMailNotSent), failure);
            });
            return;
        }
        const auto& handler = checked.name == "save" ? handlers.save : checked.name == "merge" ? handlers.merge : handlers.update;
        if (!handler)
            throw sdbus::Error(kFailed, "this daemon does not carry out \"" + checked.name + "\"");
        awaiting.emplace(id, std::move(result));
        // Answered once done, from the command worker: a long rewrite holds
        // up no call, ping or announcement.
        {
            std::lock_guard lock(channel_.jobsMutex_);
            channel_.jobs_.push([answers = channel_.answers_, id, &handler, command = std::move(checked.command)] {
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
        channel_.jobsReady_.notify_one();
    }

    std::map<std::string, std::uint64_t> getStatistics() override
    {
        refuseOthers("read the statistics");
        const auto& handlers = channel_.handlers_;
        auto counters = handlers.statistics ? handlers.statistics() : std::map<std::string, std::uint64_t>{};
        const auto& announced = channel_.announcements_.counters();
        counters["signalledEvents"] = announced.signalled.load();
        counters["signalDroppedEvents"] = announced.dropped.load();
        counters["subscribers"] = channel_.announcements_.subscriberCount();
        counters["eventSignalsSent"] = announced.eventSignals.load();
        counters["eventsDroppedSignalsSent"] = announced.droppedSignals.load();
        counters["subscribersDropped"] = announced.droppedSubscribers.load();
        return counters;
    }

    std::map<std::string, std::string> getStatus() override
    {
        refuseOthers("read the status");
        return channel_.handlers_.status ? channel_.handlers_.status() : std::map<std::string, std::string>{};
    }

    void Subscribe() override
    {
        refuseOthers("receive the events");
        subscribers_->add(caller());
    }

    void Unsubscribe() override
    {
        refuseOthers("receive the events");
        subscribers_->remove(caller());
    }

    CommandChannel& channel_;
    Callers& callers_;
    Subscribers* subscribers_ = nullptr;
    std::uint64_t lastCall_ = 0;
};

void CommandChannel::serve(std::stop_token stop)
{
    auto connection = sdbus::createSystemBusConnection(bus::kService);
    Callers callers;
    BusObject object(*this, *connection, callers);
    Subscribers subscribers(announcements_, *connection, object.object());
    object.publish(subscribers);
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
    connected_ = true;

    while (!stop.stop_requested()) {
        // Everything the bus has for us first, then the answers the
        // workers have ready, then the announcements.
        while (connection->processPendingRequest()) {
        }
        subscribers.settle();
        sendAnswers(object.awaiting);
        const auto lookAgain = subscribers.pump(Clock::now());
        const auto poll_data = connection->getEventLoopPollData();
        pollfd fds[2] = {{poll_data.fd, poll_data.events, 0}, {wakeFd_, POLLIN, 0}};
        int timeout = -1;
        if (const auto relative = poll_data.getRelativeTimeout())
            timeout = static_cast<int>(std::min<long long>(relative->count() / 1000 + 1, 60000));
        const auto shorten = [&timeout](long long ms) {
            timeout = timeout < 0 ? static_cast<int>(ms) : std::min(timeout, static_cast<int>(ms));
        };
        if (lookAgain)
            shorten(lookAgain->count());
        if (poll(fds, 2, timeout) > 0 && (fds[1].revents & POLLIN))
            drain(wakeFd_);
        if (fds[0].revents & (POLLHUP | POLLERR))
            throw sdbus::Error("org.freedesktop.DBus.Error.Disconnected", "the bus went away");
    }
    connected_ = false;
}

} // namespace brantwell
