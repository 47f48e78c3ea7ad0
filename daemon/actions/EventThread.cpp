#include "EventThread.h"

#include "FailureLog.h"
#include "JournalWriter.h"

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
    if (!journal_.write(*priority, *format, error))
        failures_.report("log event: cannot write to the journal at " + journal_.socketPath() + ": " + error);
}

} // namespace brantwell
