#include "ActionDispatch.h"

#include <chrono>
#include <cmath>
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
    replaceAll(out, "$suppressed", values.suppressed);
    replaceAll(out, "$message", values.message);
    return out;
}

namespace {

double realClock()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// The line a mail gets when matching events were held back before it,
// whatever its template says.
std::string heldBackLine(const ActionThrottle::Admission& a, double now, std::string_view body)
{
    const auto seconds = static_cast<long long>(std::llround(std::max(0.0, now - a.heldSince)));
    const std::string lineEnd = body.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
    std::string line = std::to_string(a.suppressed) + (a.suppressed == 1 ? " matching event was" : " matching events were")
                       + " held back by this action's limit over the " + std::to_string(seconds)
                       + (seconds == 1 ? " second" : " seconds") + " before this mail.";
    if (!body.empty() && !body.ends_with('\n'))
        line.insert(0, lineEnd);
    return line + lineEnd;
}

} // namespace

ActionDispatch::ActionDispatch(ActionPools pools, ActionContext context, Clock clock)
    : pools_(pools), context_(context), clock_(std::move(clock))
{
    if (!clock_) {
        clock_ = realClock;
        summaries_ = std::jthread([this](std::stop_token stop) { runSummaries(stop); });
    }
}

ActionDispatch::~ActionDispatch()
{
    if (summaries_.joinable()) {
        summaries_.request_stop();
        summaryDue_.notify_all();
        summaries_.join();
    }
}

void ActionDispatch::follow(const Settings& settings)
{
    if (settings.generation == generation_ && current_.size() == settings.actions.size())
        return;
    generation_ = settings.generation;
    current_.clear();
    std::map<std::string, std::unique_ptr<ActionState>> kept;
    for (const auto& action : settings.actions) {
        auto it = states_.find(action.key);
        auto& state = kept[action.key];
        if (state) {
            // The same record twice in the list: one state, as one limit.
        } else if (it != states_.end()) {
            state = std::move(it->second);
        } else {
            state = std::make_unique<ActionState>(
                ActionState{action, ActionThrottle(action.iThrottleCount, action.iThrottleSeconds), std::nullopt});
        }
        state->action.name = action.name;
        current_.push_back(state.get());
    }
    // Actions no longer in the settings take their held events with them.
    states_ = std::move(kept);
}

std::vector<ActionCounts> ActionDispatch::counts() const
{
    std::lock_guard lock(mutex_);
    std::vector<ActionCounts> out;
    for (const ActionState* s : current_)
        out.push_back({s->action.name, s->throttle.runs(), s->throttle.heldBack()});
    return out;
}

void ActionDispatch::start(const CompiledAction& action, const PlaceholderValues& values,
                           const PlaceholderValues& plainValues, const std::string& formatSubject,
                           const std::string& formatBody, const ActionThrottle::Admission& admission)
{
    const auto submit = [this](CommandPool& pool, std::unique_ptr<Command> command, const char* what) {
        if (!pool.submit(std::move(command)))
            context_.failures.report(std::string("too many actions at once: a ") + what + " was dropped");
    };
    if (!action.runCommand.empty()) {
        auto c = std::make_unique<RunThread>(context_.reaper, context_.failures);
        c->command = recordText(action.runCommand, "Command");
        c->arguments = replaced(recordText(action.runCommand, "Arguments"), values);
        c->environment = recordText(action.runCommand, "Environment");
        submit(pools_.run, std::move(c), "run command");
    }
    if (!action.sendEmail.empty()) {
        auto c = std::make_unique<EmailThread>(context_.settings, context_.failures);
        c->body = replacePlaceholders(formatBody, plainValues);
        if (admission.suppressed > 0)
            c->body += heldBackLine(admission, clock_(), c->body);
        c->subject = replacePlaceholders(formatSubject, plainValues);
        const auto it = action.sendEmail.find("Recipients");
        if (it != action.sendEmail.end())
            c->recipients = recipientsOf(*it);
        submit(pools_.mail, std::move(c), "mail");
    }
    if (!action.setEvent.empty()) {
        auto c = std::make_unique<EventThread>(context_.journal, context_.failures);
        c->type = recordText(action.setEvent, "Type");
        c->format = replaced(recordText(action.setEvent, "Format"), plainValues);
        submit(pools_.log, std::move(c), "log event");
    }
}

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
    follow(settings);
    const EventRecord& r = event.record;
    const EventCriteria criteria = criteriaOf(event.senderAddress, r.priority, r.message);
    std::optional<PlaceholderValues> values;  // the date is formatted only for a match
    std::optional<PlaceholderValues> plainValues;  // for mail and the journal
    bool summaryWaits = false;

    for (std::size_t i = 0; i < settings.actions.size(); ++i) {
        const CompiledAction& action = settings.actions[i];
        if (!action.criteria.matches(criteria))
            continue;
        if (action.runCommand.empty() && action.sendEmail.empty() && action.setEvent.empty())
            continue;
        ActionState& state = *current_[i];
        const ActionThrottle::Admission admission = state.throttle.admit(event.receptionTime);
        if (!admission.run) {
            // Kept for the summary run, should no later event come.
            if (!state.held)
                state.held.emplace();
            state.held->sender.assign(event.senderAddress);
            state.held->time = event.receptionTime;
            state.held->record = r;
            state.held->dateFormat = settings.dateFormat;
            state.held->formatSubject = settings.formatSubject;
            state.held->formatBody = settings.formatBody;
            summaryWaits = true;
            continue;
        }
        state.held.reset();
        if (!values) {
            values = PlaceholderValues{r.host, displayDate(settings.dateFormat, event.receptionTime), r.priority,
                                       r.message};
            plainDateText_ = withPlainSpaces(dateText_);
            plainValues = *values;
            plainValues->date = plainDateText_;
        }
        suppressedText_ = std::to_string(admission.suppressed);
        values->suppressed = plainValues->suppressed = suppressedText_;
        start(action, *values, *plainValues, settings.formatSubject, settings.formatBody, admission);
    }
    if (summaryWaits) {
        ++holds_;
        summaryDue_.notify_all();
    }
}

void ActionDispatch::runDueSummaries(double now)
{
    std::lock_guard lock(mutex_);
    for (ActionState* state : current_) {
        if (!state->held)
            continue;
        const auto admission = state->throttle.takeSummary(now);
        if (!admission)
            continue;
        const HeldEvent held = std::move(*state->held);
        state->held.reset();
        const EventRecord& r = held.record;
        suppressedText_ = std::to_string(admission->suppressed);
        PlaceholderValues values{r.host, displayDate(held.dateFormat, held.time), r.priority, r.message,
                                 suppressedText_};
        plainDateText_ = withPlainSpaces(dateText_);
        PlaceholderValues plainValues = values;
        plainValues.date = plainDateText_;
        start(state->action, values, plainValues, held.formatSubject, held.formatBody, *admission);
    }
}

void ActionDispatch::runSummaries(std::stop_token stop)
{
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        std::optional<double> next;
        for (const ActionState* state : current_)
            if (state->held)
                if (const auto due = state->throttle.summaryDue(); due && (!next || *due < *next))
                    next = due;
        // Woken early by a dispatch that held an event back: its summary
        // may be due before the one waited for.
        const std::uint64_t seen = holds_;
        const auto held = [&] { return holds_ != seen; };
        if (!next) {
            summaryDue_.wait(lock, stop, held);
            continue;
        }
        const double wait = *next - clock_();
        if (wait > 0) {
            summaryDue_.wait_for(lock, stop, std::chrono::duration<double>(wait), held);
            continue;
        }
        lock.unlock();
        runDueSummaries(clock_());
        lock.lock();
    }
}

} // namespace brantwell
