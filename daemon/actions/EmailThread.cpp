#include "EmailThread.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "FailureLog.h"
#include "settings/SettingsPipe.h"
#include "SmtpClient.h"
#include "util/ProblemBoard.h"

namespace brantwell {

std::vector<std::string> recipientsOf(const nlohmann::json& value)
{
    std::vector<std::string> out;
    if (value.is_array())
        for (const auto& v : value)
            if (v.is_string())
                out.push_back(v.get<std::string>());
    return out;
}

EmailThread::EmailThread(SettingsPipe& settings, FailureLog& failures) : settings_(settings), failures_(failures) {}

std::string EmailThread::recipientsText() const
{
    std::string to;
    for (const auto& r : recipients)
        to += (to.empty() ? "" : ",") + r;
    return to.empty() ? std::string("(no recipients)") : to;
}

void EmailThread::run(std::stop_token stop)
{
    const SmtpOutcome outcome = send(stop);
    if (done)
        done(outcome);
}

void EmailThread::dropped(std::string_view why)
{
    if (done)
        done({false, std::string(why)});
}

SmtpOutcome EmailThread::send(std::stop_token stop)
{
    // The settings in force now; a save during the dialogue does not touch it.
    const auto s = settings_.snapshot();
    SmtpServer server;
    server.host = s->emailServer.value_or("");
    server.port = s->iEmailPort;
    server.sender = s->emailSender.value_or("");
    server.username = s->emailUsername.value_or("");
    server.password = s->emailPassword.value_or("");
    server.tls = s->emailSecurity.value_or("") == "SSL";
    // Minutes per reply; a day at most, so the product cannot overflow.
    const std::int64_t minutes = std::clamp<std::int64_t>(s->iEmailTimeout, 0, 24 * 60);
    server.replyTimeout = std::chrono::minutes(minutes);

    if (server.host.empty()) {
        SmtpOutcome outcome{false, "no e-mail server is set"};
        failures_.report("e-mail to " + recipientsText() + " not sent: " + outcome.failure);
        ProblemBoard::process().set(kMailProblem, outcome.failure);
        return outcome;
    }
    SmtpOutcome outcome = sendMail(server, {recipients, subject, body, bHtml}, stop);
    if (!outcome.sent) {
        failures_.report("e-mail to " + recipientsText() + " via " + server.host + ":" +
                         std::to_string(server.port) + " not sent: " + outcome.failure);
        ProblemBoard::process().set(kMailProblem, "the last mail via " + server.host + ":" + std::to_string(server.port)
                                                      + " was not sent: " + outcome.failure);
    } else {
        ProblemBoard::process().clear(kMailProblem);
    }
    return outcome;
}

} // namespace brantwell
