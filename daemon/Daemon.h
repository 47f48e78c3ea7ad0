// The daemon's start-up and thread set: the settings owner reads the
// settings, then the worker threads start, then the command channel opens.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include <nlohmann/json_fwd.hpp>

#include "channel/CommandChannel.h"
#include "receive/DropReport.h"
#include "actions/ActionRunner.h"
#include "store/EventStore.h"
#include "export/ExportThread.h"
#include "forward/Forwarder.h"
#include "store/RemovalThread.h"
#include "settings/SettingsPipe.h"
#include "receive/SyslogThread.h"
#include "receive/TcpReceiver.h"

namespace brantwell {

struct DaemonOptions {
    std::string dataDirectory{kDefaultDataDirectory};
    std::uint16_t port = 514;
    // Where log-event actions write; tests point it at a socket of their own.
    std::string journalSocket{kSystemJournalSocket};
};

class Daemon {
public:
    explicit Daemon(DaemonOptions options);
    ~Daemon();  // stops every thread

    // Reads the settings and starts the threads. Returns false only when the
    // data directory cannot be used at all or another daemon uses it; a port that cannot be bound is
    // reported and retried while the daemon keeps running.
    bool start();

    // Blocks until SIGTERM or SIGINT (which the caller has blocked).
    void waitForSignal();

    SettingsPipe& settings() { return settings_; }
    EventStore& store() { return store_; }
    SyslogThread& receiver() { return receiver_; }
    TcpReceiver& tcpReceiver() { return tcpReceiver_; }
    TcpReceiver& tlsReceiver() { return tlsReceiver_; }
    ActionRunner& actions() { return actions_; }
    CommandChannel& commandChannel() { return channel_; }
    RemovalThread& removal() { return removal_; }
    Forwarder& forwarder() { return forwarder_; }

    // The command channel's handlers.
    void saveSettings(const nlohmann::json& command);
    void mergeSettings(const nlohmann::json& command);
    void sendEmail(const nlohmann::json& command, CommandReply reply);
    void updateEvents(const nlohmann::json& command);
    std::map<std::string, std::uint64_t> statistics() const;
    std::map<std::string, std::string> status() const;

private:
    void receiveLoop(std::stop_token stop);

    DaemonOptions options_;
    SettingsPipe settings_;
    EventStore store_;
    CommandChannel channel_;
    ActionRunner actions_;  // before the receiver, which dispatches to it
    Forwarder forwarder_;   // before the receivers, which hand it what they store
    SyslogThread receiver_;
    TcpReceiver tcpReceiver_;  // idle until the settings name a port
    TcpReceiver tlsReceiver_;
    RemovalThread removal_;
    ExportThread export_;
    std::jthread receiverThread_;
    std::jthread tcpThread_;
    std::jthread tlsThread_;
    std::jthread removalThread_;  // declared after what they use: stopped first
    std::jthread exportThread_;
    int lockFd_ = -1;  // held while the daemon runs
    DropReporter dropReporter_;  // last: it reads the counters of all the above
};

} // namespace brantwell
