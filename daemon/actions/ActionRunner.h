// Everything the automatic actions need, built once by the daemon: the
// failure log, the child reaper, the journal writer, the command pool and
// the dispatcher the receiver calls.
#pragma once

#include <string>

#include <nlohmann/json_fwd.hpp>

#include "ActionDispatch.h"
#include "ChildReaper.h"
#include "CommandPool.h"
#include "FailureLog.h"
#include "JournalWriter.h"

namespace brantwell {

struct ActionRunnerOptions {
    std::string journalSocket{kSystemJournalSocket};
    std::size_t workers = CommandPool::kDefaultWorkers;
    std::size_t queueCapacity = CommandPool::kDefaultQueueCapacity;
    FailureLog::Sink failureSink{};  // standard error when empty
};

class ActionRunner {
public:
    ActionRunner(SettingsPipe& settings, ActionRunnerOptions options = {});

    ActionDispatcher& dispatcher() { return dispatch_; }

    // The "email" command: queues one message from its "Recipients",
    // "Subject", "Body" and "Html" values (absent ones read as empty or
    // false); it is sent with the server settings in force when it starts.
    void sendEmail(const nlohmann::json& command);

    CommandPoolStatistics statistics() const { return pool_.statistics(); }
    FailureLog& failures() { return failures_; }

private:
    SettingsPipe& settings_;
    // Declared in the order they must be built; the pool is joined before
    // the reaper and the log its commands use go away.
    FailureLog failures_;
    ChildReaper reaper_;
    JournalWriter journal_;
    CommandPool pool_;
    ActionDispatch dispatch_;
};

} // namespace brantwell
