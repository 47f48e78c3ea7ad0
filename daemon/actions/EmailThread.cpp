#include "EmailThread.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "FailureLog.h"
#include "settings/SettingsPipe.h"
#include "SmtpClient.h"

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

void EmailThread::run(std::stop_token stop)
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

    std::string to;
    for (const auto& r : recipients)
        to += (to.empty() ? "" : ",") + r;
    if (to.empty())
        to = "(no recipients)";
    if (server.host.empty()) {
        failures_.report("e-mail to " + to + " not sent: no e-mail server is set");
        return;
    }
    const SmtpOutcome outcome = sendMail(server, {recipients, subject, body, bHtml}, stop);
    if (!outcome.sent)
        failures_.report("e-mail to " + to + " via " + server.host + ":" + std::to_string(server.port) +
                         " not sent: " + outcome.failure);
}

} // namespace brantwell
