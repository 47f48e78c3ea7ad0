#include "ActionRunner.h"

#include <nlohmann/json.hpp>

#include "EmailThread.h"
#include "SettingsValue.h"

namespace brantwell {

ActionRunner::ActionRunner(SettingsPipe& settings, ActionRunnerOptions options)
    : settings_(settings), failures_(std::move(options.failureSink)), reaper_(options.runningPrograms),
      journal_(std::move(options.journalSocket)),
      runPool_(options.runPool.workers, options.runPool.queueCapacity, [this] { failures_.flush(); }),
      logPool_(options.logPool.workers, options.logPool.queueCapacity, [this] { failures_.flush(); }),
      mailPool_(options.mailPool.workers, options.mailPool.queueCapacity),
      requestedMailPool_(options.requestedMailPool.workers, options.requestedMailPool.queueCapacity),
      dispatch_(ActionPools{runPool_, mailPool_, logPool_}, ActionContext{settings_, reaper_, failures_, journal_},
                options.clock)
{
}

void ActionRunner::sendEmail(const nlohmann::json& command, std::function<void(const SmtpOutcome&)> done)
{
    auto c = std::make_unique<EmailThread>(settings_, failures_);
    c->body = recordText(command, "Body").value_or("");
    c->subject = recordText(command, "Subject").value_or("");
    if (command.is_object())
        if (const auto it = command.find("Recipients"); it != command.end())
            c->recipients = recipientsOf(*it);
    c->bHtml = readBoolean(command, "Html").value_or(false);
    c->done = std::move(done);
    if (!requestedMailPool_.submit(std::move(c)))
        failures_.report("too many e-mails requested at once: the requested e-mail was dropped");
}

CommandPoolStatistics ActionRunner::statistics() const
{
    CommandPoolStatistics sum;
    for (const CommandPool* pool : {&runPool_, &logPool_, &mailPool_}) {
        const auto s = pool->statistics();
        sum.accepted += s.accepted;
        sum.dropped += s.dropped;
        sum.completed += s.completed;
        sum.discarded += s.discarded;
    }
    return sum;
}

std::size_t ActionRunner::workerThreads() const
{
    return runPool_.workers() + logPool_.workers() + mailPool_.workers() + requestedMailPool_.workers();
}

} // namespace brantwell
