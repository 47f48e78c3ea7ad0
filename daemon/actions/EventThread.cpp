#include "EventThread.h"

#include "FailureLog.h"
#include "JournalWriter.h"
#include "util/LogText.h"

namespace brantwell {

EventThread::EventThread(const JournalWriter& journal, FailureLog& failures)
    : journal_(journal), failures_(failures)
{
}

void EventThread::run(std::stop_token)
{
    const auto priority = journalPriorityOf(type.value_or(""));
    if (!priority) {
        failures_.report("log event: unknown type \"" + type.value_or("") + "\", nothing written");
        return;
    }
    if (!format) {
        failures_.report("log event: the action has no text, nothing written");
        return;
    }
    std::string error;
    // One entry is one line, as in every other log the entry may reach.
    if (!journal_.write(*priority, escapeLineBreaks(*format), error))
        failures_.report("log event: cannot write to the journal at " + journal_.socketPath() + ": " + error);
}

} // namespace brantwell
