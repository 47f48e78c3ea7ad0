// The e-mail action and the "email" command: one message over SMTP with the
// server settings in force when the message starts.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "CommandPool.h"
#include "SmtpClient.h"

namespace brantwell {

class FailureLog;
class SettingsPipe;

// The addresses of a "Recipients" value: the strings of an array, in order;
// anything else gives none.
std::vector<std::string> recipientsOf(const nlohmann::json& value);

class EmailThread final : public Command {
public:
    EmailThread(SettingsPipe& settings, FailureLog& failures);

    bool bHtml = false;
    std::string body;
    std::string subject;
    std::vector<std::string> recipients;
    // Told the outcome once, on the worker that sent the message (or on the
    // thread that found the queue full): for a caller that answers when
    // the mail has gone out or failed. A failure is also reported in the
    // failure log either way.
    std::function<void(const SmtpOutcome&)> done;

    void run(std::stop_token stop) override;
    void dropped(std::string_view why) override;

    // The SMTP dialogue with the server settings in force now.
    SmtpOutcome send(std::stop_token stop);

private:
    std::string recipientsText() const;

    SettingsPipe& settings_;
    FailureLog& failures_;
};

} // namespace brantwell
