// Dispatch of the automatic actions: for every accepted event, each action
// whose record test matches queues its commands on the pool of their kind,
// in list order, with the event's values filled into the command texts.
//
// An action may be limited to a number of runs per period: the matching
// events beyond it are counted instead, the next run carries the count
// ("$suppressed"), and when a period ends with events held back and none
// comes after them, one summary run tells of them with the last one.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ActionThrottle.h"
#include "EventRecord.h"

#include "DateFormat.h"
#include "settings/Settings.h"
#include "store/EventHooks.h"

namespace brantwell {

class ChildReaper;
class CommandPool;
class FailureLog;
class JournalWriter;
class SettingsPipe;

struct PlaceholderValues {
    std::string_view host;
    std::string_view date;  // the display date text, not the stored seconds
    std::string_view priority;
    std::string_view message;
    std::string_view suppressed = "0";  // matching events held back since the action's last run
};

// The date text with the no-break spaces ICU puts in some formats (U+202F
// before "AM"/"PM", U+00A0) as plain spaces: mail declared US-ASCII and
// journal lines carry no raw 8-bit byte for a space.
std::string withPlainSpaces(std::string_view text);

// Replaces every "$host", then every "$date", then "$priority", then
// "$suppressed", then "$message", each step on the result of the one
// before; so a message that holds "$host" reaches the command unchanged.
std::string replacePlaceholders(std::string_view text, const PlaceholderValues& values);

// What the commands of an action need besides their own fields.
struct ActionContext {
    SettingsPipe& settings;  // an e-mail reads the server settings when it starts
    ChildReaper& reaper;
    FailureLog& failures;
    const JournalWriter& journal;
};

struct ActionPools {
    CommandPool& run;
    CommandPool& mail;
    CommandPool& log;
};

// Runs and held-back events of one action since start.
struct ActionCounts {
    std::string name;  // its "Name", or its position from 1
    std::uint64_t runs = 0;
    std::uint64_t heldBack = 0;
};

class ActionDispatch final : public ActionDispatcher {
public:
    using Clock = std::function<double()>;  // seconds since 1970

    // Without a clock, summary runs follow the real time on a thread of
    // their own; with one (tests), runDueSummaries is called by hand.
    ActionDispatch(ActionPools pools, ActionContext context, Clock clock = {});
    ~ActionDispatch() override;
    ActionDispatch(const ActionDispatch&) = delete;
    ActionDispatch& operator=(const ActionDispatch&) = delete;

    // From any receiver thread; one at a time (they share the date formatter).
    void dispatch(const Settings& settings, const AcceptedEvent& event) override;

    // The summary runs due at `now`: actions whose period ended with events
    // held back.
    void runDueSummaries(double now);

    // Per action of the settings last dispatched with, in list order.
    std::vector<ActionCounts> counts() const;

private:
    struct HeldEvent {
        std::string sender;
        double time = 0;
        EventRecord record;
        std::string dateFormat, formatSubject, formatBody;
    };
    // What an action keeps from event to event: its limit, and the last
    // event it held back, for the summary run.
    struct ActionState {
        CompiledAction action;
        ActionThrottle throttle;
        std::optional<HeldEvent> held;
    };

    const std::string& displayDate(const std::string& dateFormat, double time);
    void follow(const Settings& settings);  // the states of a new settings snapshot
    void start(const CompiledAction& action, const PlaceholderValues& values, const PlaceholderValues& plainValues,
               const std::string& formatSubject, const std::string& formatBody,
               const ActionThrottle::Admission& admission);
    void runSummaries(std::stop_token stop);

    ActionPools pools_;
    ActionContext context_;
    Clock clock_;
    // The UDP, TCP and TLS receivers dispatch from their own threads, and
    // the summaries come from theirs.
    mutable std::mutex mutex_;
    std::condition_variable_any summaryDue_;
    // Keyed by the whole record: a save that keeps an action keeps its state.
    std::map<std::string, std::unique_ptr<ActionState>> states_;
    std::vector<ActionState*> current_;  // for the actions of the settings of `generation_`
    std::uint64_t generation_ = 0;
    std::string suppressedText_;
    std::uint64_t holds_ = 0;  // events held back since start: wakes the summary thread
    // Building an ICU formatter is costly: one is kept for the last
    // `dateFormat` text and rebuilt only when a save changes it.
    std::optional<DateFormatter> formatter_;
    std::string dateText_;
    std::string plainDateText_;
    std::jthread summaries_;  // last: stopped and joined before the rest goes
};

} // namespace brantwell
