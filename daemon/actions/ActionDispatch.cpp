#include "ActionDispatch.h"

#include <memory>

#include "CommandPool.h"
#include "EmailThread.h"
#include "EventThread.h"
#include "FailureLog.h"
#include "RecordTest.h"
#include "RunThread.h"
#include "settings/Settings.h"
#include "SettingsValue.h"

namespace brantwell {

namespace {

void replaceAll(std::string& text, std::string_view placeholder, std::string_view value)
{
    std::size_t at = 0;
    while ((at = text.find(placeholder, at)) != std::string::npos) {
        text.replace(at, placeholder.size(), value);
        at += value.size();  // the value itself is never searched again
    }
}

std::optional<std::string> replaced(const std::optional<std::string>& text, const PlaceholderValues& v)
{
    if (!text)
        return std::nullopt;
    return replacePlaceholders(*text, v);
}

} // namespace

std::string withPlainSpaces(std::string_view text)
{
    std::string out(text);
    replaceAll(out, "\u202F", " ");
    replaceAll(out, "\u00A0", " ");
    return out;
}

std::string replacePlaceholders(std::string_view text, const PlaceholderValues& values)
{
    std::string out(text);
    replaceAll(out, "$host", values.host);
    replaceAll(out, "$date", values.date);
    replaceAll(out, "$priority", values.priority);
    replaceAll(out, "$message", values.message);
    return out;
}

ActionDispatch::ActionDispatch(ActionPools pools, ActionContext context) : pools_(pools), context_(context) {}

const std::string& ActionDispatch::displayDate(const std::string& dateFormat, double time)
{
    if (!formatter_ || formatter_->setting() != dateFormat)
        formatter_.emplace(dateFormat);
    dateText_ = formatter_->format(time);
    return dateText_;
}

void ActionDispatch::dispatch(const Settings& settings, const AcceptedEvent& event)
{
    if (settings.actions.empty())
        return;
    std::lock_guard lock(mutex_);
    const EventRecord& r = event.record;
    const EventCriteria criteria = criteriaOf(event.senderAddress, r.priority, r.message);
    std::optional<PlaceholderValues> values;  // the date is formatted only for a match
    std::optional<PlaceholderValues> plainValues;  // for mail and the journal

    const auto submit = [this](CommandPool& pool, std::unique_ptr<Command> command, const char* what) {
        if (!pool.submit(std::move(command)))
            context_.failures.report(std::string("too many actions at once: a ") + what + " was dropped");
    };

    for (const auto& action : settings.actions) {
        if (!action.criteria.matches(criteria))
            continue;
        const bool run = !action.runCommand.empty();
        const bool mail = !action.sendEmail.empty();
        const bool log = !action.setEvent.empty();
        if (!run && !mail && !log)
            continue;
        if (!values) {
            values = PlaceholderValues{r.host, displayDate(settings.dateFormat, event.receptionTime), r.priority,
                                       r.message};
            plainDateText_ = withPlainSpaces(dateText_);
            plainValues = *values;
            plainValues->date = plainDateText_;
        }
        if (run) {
            auto c = std::make_unique<RunThread>(context_.reaper, context_.failures);
            c->command = recordText(action.runCommand, "Command");
            c->arguments = replaced(recordText(action.runCommand, "Arguments"), *values);
            c->environment = recordText(action.runCommand, "Environment");
            submit(pools_.run, std::move(c), "run command");
        }
        if (mail) {
            auto c = std::make_unique<EmailThread>(context_.settings, context_.failures);
            c->body = replacePlaceholders(settings.formatBody, *plainValues);
            c->subject = replacePlaceholders(settings.formatSubject, *plainValues);
            const auto it = action.sendEmail.find("Recipients");
            if (it != action.sendEmail.end())
                c->recipients = recipientsOf(*it);
            submit(pools_.mail, std::move(c), "mail");
        }
        if (log) {
            auto c = std::make_unique<EventThread>(context_.journal, context_.failures);
            c->type = recordText(action.setEvent, "Type");
            c->format = replaced(recordText(action.setEvent, "Format"), *plainValues);
            submit(pools_.log, std::move(c), "log event");
        }
    }
}

} // namespace brantwell
