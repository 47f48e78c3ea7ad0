// The daemon's side of D-Bus: owns com.Corvanta.BrantwellSrv on the system
// bus, serves setCommand, getStatistics, Subscribe and Unsubscribe, and sends
// the Brantwell signal to each subscriber, addressed to it alone.
//
// One thread owns the bus connection: it answers method calls and sends
// the queued announcements (Announcements.h: the queue, the subscribers and
// their flow control), so no sd-bus object is touched by two threads.
// Without a bus the daemon goes on receiving; the thread says so once and
// connects again when a bus appears.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <queue>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include <sdbus-c++/Message.h>
#include <sdbus-c++/MethodResult.h>

#include "Announcements.h"
#include "store/EventHooks.h"

namespace brantwell {

// Answers a command whose work ends after its handler has returned. Called
// once, from any thread: an empty text answers "Received", any other text
// is the failure the caller is told.
using CommandReply = std::function<void(const std::string& failure)>;

// A command that could not be carried out, answered with the D-Bus error
// `name` (the interface's own or a standard one) and the text.
struct CommandError : std::runtime_error {
    CommandError(std::string errorName, const std::string& what) : std::runtime_error(what), name(std::move(errorName)) {}
    std::string name;
};

// Carries out the commands. save, merge and update run on the channel's
// command worker, one at a time in the order they came, never on the bus
// thread; each returns once its command is done and throws CommandError
// (or any exception, answered as org.freedesktop.DBus.Error.Failed) when it
// could not be. email starts the message and returns at once; `reply`
// hears how the SMTP dialogue ended, so a slow server holds nothing up.
struct CommandHandlers {
    std::function<void(const nlohmann::json&)> save;
    std::function<void(const nlohmann::json&, CommandReply reply)> email;
    std::function<void(const nlohmann::json&)> update;
    std::function<std::map<std::string, std::uint64_t>()> statistics;
    // What the daemon is and where it keeps its files ("version",
    // "dataDirectory", "port"), for brantwellctl status.
    std::function<std::map<std::string, std::string>()> status;
    std::function<void(const nlohmann::json&)> merge;
};

// Whether a caller may steer the daemon: root, or a member of the group
// "brantwell" by its primary or supplementary groups.
bool isAuthorisedCaller(std::uint32_t uid, const std::vector<std::uint32_t>& gids, std::int64_t brantwellGid);

// A command text as the channel takes it: a JSON object nested at most 64
// deep with a known "command" and what that command needs. `error` (a D-Bus
// error name) and `why` are set when it is not; then nothing may run.
struct CheckedCommand {
    nlohmann::json command;
    std::string name;
    std::string error;
    std::string why;
};
CheckedCommand checkCommandText(const std::string& text);

class CommandChannel final : public EventAnnouncer {
public:
    static constexpr std::uint64_t kWindow = AnnouncementQueue::kWindow;
    static constexpr std::size_t kEventsPerSignal = AnnouncementQueue::kEventsPerSignal;

    explicit CommandChannel(CommandHandlers handlers);
    ~CommandChannel() override;

    void start();
    void stop();

    // From any thread. "Set"s never wait; "Remove"s wait for room in the
    // queue while anyone is subscribed. Returns at once without subscribers.
    void announce(EventType type, std::span<const EventRecord> events) override
    {
        announcements_.announce(type, events);
    }

    // Events put into signals (one count per subscriber that got them).
    std::uint64_t signalledEvents() const { return announcements_.counters().signalled.load(); }
    // Events a subscriber missed (one count per subscriber), all told.
    std::uint64_t droppedEvents() const { return announcements_.counters().dropped.load(); }
    bool connected() const { return connected_.load(); }
    std::size_t subscribers() const { return announcements_.subscriberCount(); }

private:
    class Callers;
    class BusObject;

    void run(std::stop_token stop);
    void serve(std::stop_token stop);  // one connection's life
    // Sends the answers the workers have given to deferred calls.
    void sendAnswers(std::map<std::uint64_t, sdbus::Result<std::string>>& awaiting);

    CommandHandlers handlers_;
    int wakeFd_ = -1;
    AnnouncementQueue announcements_{wakeFd_};
    std::atomic<bool> connected_{false};
    // Answers of deferred commands, handed from the workers to the bus
    // thread, which alone may touch the bus. Shared so that a late answer
    // after the channel is gone finds something to drop itself into.
    struct Answers {
        std::mutex mutex;
        struct Answer {
            std::uint64_t call;
            std::string error;  // empty: "Received"
            std::string message;
        };
        std::vector<Answer> ready;
        int wakeFd = -1;  // -1 once the channel is gone
    };
    std::shared_ptr<Answers> answers_ = std::make_shared<Answers>();
    // Answers call `id` from any thread, once the bus thread sends it.
    static void answerLater(const std::shared_ptr<Answers>& answers, std::uint64_t id, std::string error,
                            std::string message);
    // The command worker: save, merge and update, one at a time, off the
    // bus thread.
    void work(std::stop_token stop);
    std::mutex jobsMutex_;
    std::condition_variable_any jobsReady_;
    std::queue<std::function<void()>> jobs_;  // GUARDED_BY(jobsMutex_)
    std::jthread worker_;
    std::jthread thread_;
};

} // namespace brantwell
