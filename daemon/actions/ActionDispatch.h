// Dispatch of the automatic actions: for every accepted event, each action
// whose record test matches queues its commands on the pool of their kind,
// in list order, with the event's values filled into the command texts.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "DateFormat.h"
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
};

// The date text with the no-break spaces ICU puts in some formats (U+202F
// before "AM"/"PM", U+00A0) as plain spaces: mail declared US-ASCII and
// journal lines carry no raw 8-bit byte for a space.
std::string withPlainSpaces(std::string_view text);

// Replaces every "$host", then every "$date", then "$priority", then
// "$message", each step on the result of the one before; so a message that
// holds "$host" reaches the command unchanged.
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

class ActionDispatch final : public ActionDispatcher {
public:
    ActionDispatch(ActionPools pools, ActionContext context);

    // From any receiver thread; one at a time (they share the date formatter).
    void dispatch(const Settings& settings, const AcceptedEvent& event) override;

private:
    const std::string& displayDate(const std::string& dateFormat, double time);

    ActionPools pools_;
    ActionContext context_;
    // The UDP, TCP and TLS receivers dispatch from their own threads.
    std::mutex mutex_;
    // Building an ICU formatter is costly: one is kept for the last
    // `dateFormat` text and rebuilt only when a save changes it.
    std::optional<DateFormatter> formatter_;
    std::string dateText_;
    std::string plainDateText_;
};

} // namespace brantwell
