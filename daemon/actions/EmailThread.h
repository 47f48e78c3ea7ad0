// The e-mail action and the "email" command: one message over SMTP with the
// server settings in force when the message starts.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "CommandPool.h"

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

    void run(std::stop_token stop) override;

private:
    SettingsPipe& settings_;
    FailureLog& failures_;
};

} // namespace brantwell
