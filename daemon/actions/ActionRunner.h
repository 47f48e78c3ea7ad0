// Everything the automatic actions need, built once by the daemon: the
// failure log, the child reaper, the journal writer, the command pools and
// the dispatcher the receiver calls.
//
// Each kind of command has its own pool: a mail server that greets and then
// stays silent holds mail workers for minutes, and must not hold up the
// programs and journal lines of later events, nor the test mail the user
// asks for. So run-command, log-event and action e-mail each have a bounded
// queue and workers of their own, and the "email" command a fourth.
#pragma once

#include <functional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "ActionDispatch.h"
#include "ChildReaper.h"
#include "CommandPool.h"
#include "FailureLog.h"
#include "JournalWriter.h"
#include "SmtpClient.h"

namespace brantwell {

struct ActionRunnerOptions {
    std::string journalSocket{kSystemJournalSocket};
    FailureLog::Sink failureSink{};  // standard error when empty
    // Starting a program is quick; the workers mostly wait for a place
    // among the programs allowed to run at once.
    CommandPool::Size runPool{2, CommandPool::kDefaultQueueCapacity};
    // One worker keeps journal lines in the order of their events.
    CommandPool::Size logPool{1, CommandPool::kDefaultQueueCapacity};
    CommandPool::Size mailPool{8, 1024};
    CommandPool::Size requestedMailPool{2, 64};
    std::size_t runningPrograms = ChildReaper::kDefaultRunningLimit;
    // Tests: the time the action limits follow, with summaries run by hand.
    ActionDispatch::Clock clock{};
};

class ActionRunner {
public:
    ActionRunner(SettingsPipe& settings, ActionRunnerOptions options = {});

    ActionDispatcher& dispatcher() { return dispatch_; }
    // Runs and held-back events per action.
    std::vector<ActionCounts> actionCounts() const { return dispatch_.counts(); }

    // The "email" command: queues one message from its "Recipients",
    // "Subject", "Body" and "Html" values (absent ones read as empty or
    // false) on workers that action mails never occupy; it is sent with the
    // server settings in force when it starts. `done`, when given, gets the
    // outcome exactly once, on a worker thread: sent, refused by the server
    // (with the step and the reply), or not started at all (a full queue,
    // the daemon stopping).
    void sendEmail(const nlohmann::json& command, std::function<void(const SmtpOutcome&)> done = {});

    // The action pools together (the "email" command's are not actions).
    CommandPoolStatistics statistics() const;
    // Every worker thread of every pool.
    std::size_t workerThreads() const;
    FailureLog& failures() { return failures_; }
    const ChildReaper& reaper() const { return reaper_; }

private:
    SettingsPipe& settings_;
    // Declared in the order they must be built; the pools are joined before
    // the reaper and the log their commands use go away.
    FailureLog failures_;
    ChildReaper reaper_;
    JournalWriter journal_;
    CommandPool runPool_;
    CommandPool logPool_;
    CommandPool mailPool_;
    CommandPool requestedMailPool_;
    ActionDispatch dispatch_;
};

} // namespace brantwell
