// The log-event action: one line in the system journal at the level its
// "Type" names.
#pragma once

#include <optional>
#include <string>

#include "CommandPool.h"

namespace brantwell {

class FailureLog;
class JournalWriter;

class EventThread final : public Command {
public:
    EventThread(const JournalWriter& journal, FailureLog& failures);

    std::optional<std::string> type;    // "Default", "Information", "Debug", "Error" or "Fault"
    std::optional<std::string> format;  // the text, placeholders replaced

    void run(std::stop_token stop) override;

private:
    const JournalWriter& journal_;
    FailureLog& failures_;
};

} // namespace brantwell
