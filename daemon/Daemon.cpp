#include "Daemon.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "store/EventUpdate.h"
#include "util/FileUtil.h"
#include "util/ProblemBoard.h"
#include "settings/Settings.h"

namespace brantwell {

Daemon::Daemon(DaemonOptions options)
    : options_(std::move(options)), settings_(options_.dataDirectory), store_(options_.dataDirectory),
      channel_(CommandHandlers{[this](const nlohmann::json& c) { saveSettings(c); },
                               [this](const nlohmann::json& c, CommandReply r) { sendEmail(c, std::move(r)); },
                               [this](const nlohmann::json& c) { updateEvents(c); },
                               [this] { return statistics(); },
                               [this] { return status(); },
                               [this](const nlohmann::json& c) { mergeSettings(c); }}),
      actions_(settings_, {options_.journalSocket}), forwarder_(settings_, options_.dataDirectory), receiver_(settings_, store_, &channel_, &actions_.dispatcher()),
      tcpReceiver_(TcpReceiver::Transport::Tcp, settings_, store_, &channel_, &actions_.dispatcher()),
      tlsReceiver_(TcpReceiver::Transport::Tls, settings_, store_, &channel_, &actions_.dispatcher()),
      removal_(settings_, store_, &channel_), export_(settings_, store_),
      dropReporter_([this] { return statistics(); })
{
}

Daemon::~Daemon()
{
    for (std::jthread* t : {&receiverThread_, &tcpThread_, &tlsThread_}) {
        t->request_stop();
        if (t->joinable())
            t->join();
    }
    forwarder_.stop();  // after the receivers: what they handed over is queued
    channel_.stop();
    if (lockFd_ >= 0)
        close(lockFd_);
}

bool Daemon::start()
{
    if (!ensureDataDirectory(options_.dataDirectory)) {
        std::fprintf(stderr, "BrantwellSrv: cannot create the data directory %s: %s\n",
                     options_.dataDirectory.c_str(), std::strerror(errno));
        return false;
    }
    // One daemon per data directory: two would append to the same files and
    // replace each other's rewrites.
    long holder = 0;
    lockFd_ = lockDataDirectory(options_.dataDirectory, holder);
    if (lockFd_ < 0) {
        if (errno == EWOULDBLOCK)
            std::fprintf(stderr, "BrantwellSrv: another BrantwellSrv (process %ld) already uses the data directory %s\n",
                         holder, options_.dataDirectory.c_str());
        else
            std::fprintf(stderr, "BrantwellSrv: cannot lock the data directory %s: %s\n",
                         options_.dataDirectory.c_str(), fileErrorText(errno).c_str());
        return false;
    }
    store_.enforcePermissions();
    settings_.readSettings();
    channel_.start();
    forwarder_.start();
    receiver_.setForwarder(&forwarder_);
    tcpReceiver_.setForwarder(&forwarder_);
    tlsReceiver_.setForwarder(&forwarder_);
    exportThread_ = std::jthread([this](std::stop_token stop) { export_.run(stop); });
    removalThread_ = std::jthread([this](std::stop_token stop) { removal_.run(stop); });
    receiverThread_ = std::jthread([this](std::stop_token stop) { receiveLoop(stop); });
    tcpThread_ = std::jthread([this](std::stop_token stop) { tcpReceiver_.run(stop); });
    tlsThread_ = std::jthread([this](std::stop_token stop) { tlsReceiver_.run(stop); });
    dropReporter_.start();
    return true;
}

void Daemon::receiveLoop(std::stop_token stop)
{
    // Another program may hold the port for a while: say so once, then
    // retry quietly until it is free.
    bool reported = false;
    while (!stop.stop_requested() && !receiver_.open(options_.port)) {
        if (!reported) {
            std::fprintf(stderr, "BrantwellSrv: cannot bind UDP port %u: %s; retrying every 5 s\n",
                         static_cast<unsigned>(options_.port), std::strerror(errno));
            reported = true;
        }
        for (int i = 0; i < 50 && !stop.stop_requested(); ++i)
            poll(nullptr, 0, 100);
    }
    if (reported && !stop.stop_requested())
        std::fprintf(stderr, "BrantwellSrv: UDP port %u bound\n", static_cast<unsigned>(options_.port));
    receiver_.run(stop);
}

void Daemon::waitForSignal()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    int signal = 0;
    sigwait(&set, &signal);
}

} // namespace brantwell

namespace brantwell {

namespace {

// A save or merge that changed nothing is answered with why.
void answerSave(SettingsPipe::SaveResult result, const std::string& failure)
{
    switch (result) {
    case SettingsPipe::SaveResult::Saved:
        return;
    case SettingsPipe::SaveResult::NoDictionary:
        throw CommandError("org.freedesktop.DBus.Error.InvalidArgs", "\"Settings\" is not a dictionary");
    case SettingsPipe::SaveResult::TooLarge:
        throw CommandError("org.freedesktop.DBus.Error.InvalidArgs", failure);
    case SettingsPipe::SaveResult::Unreadable:
    case SettingsPipe::SaveResult::WriteFailed:
        throw CommandError("org.freedesktop.DBus.Error.Failed", failure);
    }
}

// Refused as a whole: a filter the receiver cannot use would otherwise
// drop events without a word.
void refuseUnusableFilters(const nlohmann::json& command)
{
    const auto it = command.find("Settings");
    if (it == command.end())
        return;
    const auto unusable = unusableFilterRecords(*it);
    if (!unusable.empty())
        throw CommandError("org.freedesktop.DBus.Error.InvalidArgs", "settings not saved: filter " + unusable.front());
    const auto destinations = unusableForwardingRecords(*it);
    if (!destinations.empty())
        throw CommandError("org.freedesktop.DBus.Error.InvalidArgs",
                           "settings not saved: destination " + destinations.front());
}

} // namespace

void Daemon::saveSettings(const nlohmann::json& command)
{
    refuseUnusableFilters(command);
    std::string failure;
    const auto result = settings_.saveSettings(command, &failure);
    answerSave(result, failure);
    forwarder_.refresh();
}

void Daemon::mergeSettings(const nlohmann::json& command)
{
    refuseUnusableFilters(command);
    std::string failure;
    const auto result = settings_.mergeSettings(command, &failure);
    answerSave(result, failure);
    forwarder_.refresh();
}

void Daemon::sendEmail(const nlohmann::json& command, CommandReply reply)
{
    // Queued on workers of its own, never behind action mails; returns
    // before the SMTP dialogue starts, and `reply` answers the caller once
    // it has ended.
    actions_.sendEmail(command, [reply = std::move(reply)](const SmtpOutcome& outcome) {
        reply(outcome.sent ? std::string()
              : outcome.failure.empty() ? std::string("the message was not sent") : outcome.failure);
    });
}

void Daemon::updateEvents(const nlohmann::json& command)
{
    const auto result = brantwell::updateEvents(store_, command);
    if (result.failures.empty())
        return;
    std::string text = "events not deleted, a file could not be rewritten: ";
    for (std::size_t i = 0; i < result.failures.size(); ++i)
        text += (i ? "; " : "") + result.failures[i];
    std::fprintf(stderr, "BrantwellSrv: %s\n", text.c_str());
    throw std::runtime_error(text);
}

std::map<std::string, std::string> Daemon::status() const
{
    std::error_code error;
    const auto directory = std::filesystem::absolute(options_.dataDirectory, error);
    std::map<std::string, std::string> result{
        {"version", BRANTWELL_VERSION},
        {"dataDirectory", error ? options_.dataDirectory : directory.lexically_normal().string()},
        {"port", std::to_string(options_.port)}};
    // Per transport, whether it receives ("receiving", "off", "not
    // receiving") and the port or why not.
    for (const auto& [prefix, reception] :
         {std::pair<const char*, const ReceptionStatus*>{"udp", &receiver_.reception()},
          {"tcp", &tcpReceiver_.reception()}, {"tls", &tlsReceiver_.reception()}}) {
        const auto [state, detail] = reception->get();
        result[std::string(prefix) + "Reception"] = ReceptionStatus::text(state);
        result[std::string(prefix) + "ReceptionDetail"] = detail;
    }
    // Per upstream server: connected, or why not; and the failing ones
    // together, for the application's Home page.
    std::string failing;
    for (const auto& f : forwarder_.status()) {
        const auto& st = f.state;
        std::string text = st.connected ? "connected to " + f.target
                           : st.lastError.empty() ? "connecting to " + f.target
                                                  : "not connected to " + f.target + ": " + st.lastError;
        result["forward." + f.name] = text;
        if (!st.connected && !st.lastError.empty())
            failing += (failing.empty() ? "" : "; ") + ("\"" + f.name + "\" " + text + ", "
                       + std::to_string(st.queued) + " events queued");
    }
    if (!failing.empty())
        result["forwardingProblem"] = failing;
    // What the export and mail threads last failed at, under their own keys.
    for (auto& [kind, text] : ProblemBoard::process().all())
        result[kind] = std::move(text);
    return result;
}

std::map<std::string, std::uint64_t> Daemon::statistics() const
{
    const auto& s = receiver_.statistics();
    const auto& tcp = tcpReceiver_.statistics();
    const auto& tls = tlsReceiver_.statistics();
    const std::uint64_t unstored = s.unstored.load() + tcp.unstored.load() + tls.unstored.load(),
                        signalDropped = channel_.droppedEvents(), actionsDropped = actions_.statistics().dropped;
    std::map<std::string, std::uint64_t> counters{
        {"datagramsReceived", s.received.load()},
        {"datagramsEmpty", s.empty.load()},
        {"datagramsFiltered", s.filtered.load()},
        {"datagramsCut", s.cut.load()},
        {"datagramsInvalidUtf8", s.invalidUtf8.load()},
        {"eventsStored", s.stored.load() + tcp.stored.load() + tls.stored.load()},
        {"eventsUnstored", unstored},
        {"kernelDropped", s.kernelDropped.load()},
        {"signalledEvents", channel_.signalledEvents()},
        {"signalDroppedEvents", signalDropped},
        {"actionsDropped", actionsDropped},
        // Received but not carried through everywhere: not stored, not
        // announced, or an action of it not started.
        {"eventsDropped", unstored + signalDropped + actionsDropped},
        // The longest wait of a receiver for the store's lock since start:
        // rewrites must never make it long.
        {"storeLongestWaitMicroseconds", store_.longestWaitMicroseconds()}};
    for (const auto& [prefix, receiver] : {std::pair<const char*, const TcpReceiver*>{"tcp", &tcpReceiver_},
                                           std::pair<const char*, const TcpReceiver*>{"tls", &tlsReceiver_}}) {
        const auto& t = receiver->transport();
        const auto& r = receiver->statistics();
        const std::string p = prefix;
        counters[p + "ConnectionsOpen"] = t.connectionsOpen.load();
        counters[p + "ConnectionsAccepted"] = t.connectionsAccepted.load();
        counters[p + "ConnectionsRefused"] = t.connectionsRefused.load();
        counters[p + "FramesReceived"] = t.framesReceived.load();
        counters[p + "FramesCut"] = r.cut.load();
        counters[p + "FramesInvalidUtf8"] = r.invalidUtf8.load();
        counters[p + "FramingErrors"] = t.framingErrors.load();
        counters[p + "FramesEmpty"] = r.empty.load();
        counters[p + "FramesFiltered"] = r.filtered.load();
    }
    // Per action, by its "Name" (or its position): runs, and matching events
    // held back by its limit.
    for (const auto& a : actions_.actionCounts()) {
        counters["action." + a.name + ".runs"] = a.runs;
        counters["action." + a.name + ".heldBack"] = a.heldBack;
    }
    // Per upstream server, by its "Name": lines sent (acknowledged by the
    // server's TCP, or handed to UDP), queued, dropped, and 1 while connected.
    for (const auto& f : forwarder_.status()) {
        const std::string p = "forward." + f.name + ".";
        counters[p + "sent"] = f.state.sent;
        counters[p + "queued"] = f.state.queued;
        counters[p + "dropped"] = f.state.dropped;
        counters[p + "connected"] = f.state.connected ? 1 : 0;
    }
    return counters;
}

} // namespace brantwell
