#include "ActionRunner.h"

#include <nlohmann/json.hpp>

#include "EmailThread.h"
#include "SettingsValue.h"

namespace brantwell {

ActionRunner::ActionRunner(SettingsPipe& settings, ActionRunnerOptions options)
    : settings_(settings), failures_(std::move(options.failureSink)), journal_(std::move(options.journalSocket)),
      pool_(options.workers, options.queueCapacity, [this] { failures_.flush(); }),
      dispatch_(pool_, ActionContext{settings_, reaper_, failures_, journal_})
{
}

void ActionRunner::sendEmail(const nlohmann::json& command)
{
    auto c = std::make_unique<EmailThread>(settings_, failures_);
    c->body = recordText(command, "Body").value_or("");
    c->subject = recordText(command, "Subject").value_or("");
    if (command.is_object())
        if (const auto it = command.find("Recipients"); it != command.end())
            c->recipients = recipientsOf(*it);
    c->bHtml = readBoolean(command, "Html").value_or(false);
    if (!pool_.submit(std::move(c)))
        failures_.report("too many actions at once: the requested e-mail was dropped");
}

} // namespace brantwell
