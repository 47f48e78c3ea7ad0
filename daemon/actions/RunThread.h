// The run-command action: starts one program with one argument and leaves
// it alone; the daemon does not read its output or wait for its status.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CommandPool.h"

namespace brantwell {

class ChildReaper;
class FailureLog;

// The environment of an "Environment" text: one NAME:value per LF-separated
// line, split at the first ":", nothing trimmed; lines without ":" (or with
// nothing before it) are skipped, and a later line replaces an earlier one
// of the same name. Returns the "NAME=value" entries.
std::vector<std::string> parseEnvironment(std::string_view text);

class RunThread final : public Command {
public:
    RunThread(ChildReaper& reaper, FailureLog& failures);

    std::optional<std::string> command;      // path of the program, used as stored
    std::optional<std::string> arguments;    // the one argument, placeholders replaced
    std::optional<std::string> environment;  // empty or missing: the daemon's own

    void run(std::stop_token stop) override;

    // Waits for a place among the programs allowed to run at once, then
    // starts the program; the pid, or -1 with the failure already reported
    // (or with `stop` requested while waiting).
    pid_t launch(std::stop_token stop = {});

private:
    ChildReaper& reaper_;
    FailureLog& failures_;
};

} // namespace brantwell
