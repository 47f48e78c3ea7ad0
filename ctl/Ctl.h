// brantwellctl's pieces: exit codes, the call to the daemon, and one
// function per subcommand (each in its own file).
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "SettingsKeys.h"

namespace sdbus {
class Error;
class IConnection;
class IProxy;
} // namespace sdbus

namespace brantwell::ctl {

enum Exit { kOk = 0, kFailed = 1, kUsage = 2, kRefused = 3, kRejected = 4 };

// The options every subcommand may take.
struct Options {
    // Set by --data-dir; otherwise the daemon's own, or the default.
    std::optional<std::string> dataDir;
    int port = 514;
};

// Prints the message and a hint to --help on standard error; returns kUsage.
int usage(const std::string& message);
// Prints what a failed D-Bus call means for the user; returns the exit code.
int reportError(const sdbus::Error& e);
// Calls setCommand with the command dictionary and prints the reply. The
// bus's usual 25 s unless `timeout` says longer.
int sendCommand(const nlohmann::json& command, std::chrono::microseconds timeout = std::chrono::microseconds{0});

// A connection to the (system) bus and a proxy of the daemon's object on it.
struct DaemonProxy {
    DaemonProxy();
    ~DaemonProxy();
    std::unique_ptr<sdbus::IConnection> connection;
    std::unique_ptr<sdbus::IProxy> proxy;
};
// The daemon's getStatus answer; throws sdbus::Error.
std::map<std::string, std::string> daemonStatus(DaemonProxy& daemon);
// --data-dir if given, else the daemon's data directory if it answers,
// else the default.
std::string dataDirectory(const Options& options);

void printHelp();

int status(const Options& options);
int save(const std::vector<std::string>& args, const Options& options);
int get(const Options& options);
int email(const std::vector<std::string>& args);
int deleteLines(const std::vector<std::string>& lines);
int watch();
int stats();
int testMessage(int port);

} // namespace brantwell::ctl
