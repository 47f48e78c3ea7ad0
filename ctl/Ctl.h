// brantwellctl's pieces: exit codes, the call to the daemon, and one
// function per subcommand (each in its own file).
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace sdbus {
class Error;
}

namespace brantwell::ctl {

enum Exit { kOk = 0, kFailed = 1, kUsage = 2, kRefused = 3, kRejected = 4 };

// Prints the message and a hint to --help on standard error; returns kUsage.
int usage(const std::string& message);
// Prints what a failed D-Bus call means for the user; returns the exit code.
int reportError(const sdbus::Error& e);
// Calls setCommand with the command dictionary and prints the reply.
int sendCommand(const nlohmann::json& command);

void printHelp();

int save(const std::string& file);
int get(const std::string& dataDir);
int email(const std::vector<std::string>& args);
int deleteLines(const std::vector<std::string>& lines);
int watch();
int stats();
int testMessage(int port);

} // namespace brantwell::ctl
