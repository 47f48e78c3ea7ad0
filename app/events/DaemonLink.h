// The application's one link to BrantwellSrv over D-Bus: commands go out
// through setCommand without ever blocking the caller, and the daemon's
// "Brantwell" announcements of stored and removed events come in.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QObject>

#include <nlohmann/json_fwd.hpp>

#include "BusNames.h"
#include "EventListModel.h"

class BrantwellProxy;  // generated from the interface's XML

namespace brantwell {

inline constexpr const char* kDaemonService = bus::kService;
inline constexpr const char* kDaemonPath = bus::kObjectPath;
inline constexpr const char* kDaemonInterface = bus::kInterface;

// The data directory the running daemon reports through getStatus; empty
// when no daemon answers within `timeoutMs` (none runs, no bus, refused).
QString askDaemonDataDirectory(QDBusConnection connection, int timeoutMs = 5000);

// Makes the signal's aa{ss} known to the D-Bus type system; idempotent.
void registerAnnouncementTypes();

struct Announcement {
    enum class Type { Set, Remove } type;
    EventRecord record;
};

class DaemonLink final : public QObject {
    Q_OBJECT
public:
    explicit DaemonLink(QDBusConnection connection, QObject* parent = nullptr);

    // Sends one command dictionary (JSON object text) and returns at once.
    void setPipe(const std::string& command);
    // `done`, when given, learns the outcome of this one save: an empty
    // text when the daemon took it, else the reason it did not.
    using Outcome = std::function<void(const QString& failure)>;
    void saveSettings(const nlohmann::json& settings, Outcome done = {});
    // The "merge" command: `keys` laid over the daemon's settings file as it
    // is when the daemon takes them; the file's other keys stay.
    void mergeSettings(const nlohmann::json& keys, Outcome done = {});
    // Deletes the counted lines from the event log files, in as many
    // commands as the size limit of a message needs.
    void updateEvents(const DeletionCounts& counts);

    // Sends one command and tells `done`, on `context`'s thread, how it
    // ended: the daemon's reply, or why it failed (for a mail the daemon
    // did not get out, the step that failed and the server's reply). The
    // caller waits up to `timeoutMs` for the answer.
    void request(const std::string& command, int timeoutMs, QObject* context,
                 std::function<void(bool ok, const QString& text)> done);

    // Listens to the daemon's announcements and subscribes to them, now and
    // again whenever the daemon's name gets a new owner (a restarted
    // daemon); false when the bus refused the listening.
    bool subscribe();

    // Whether the daemon owns its name on the bus now. Asks the bus, never
    // the daemon, so it answers at once even when the daemon hangs.
    bool daemonRuns() const;

    // The bus the daemon is reached on, for questions of other parts.
    QDBusConnection connection() const { return connection_; }

    // The events of one "Brantwell" signal: its type and its stored lines,
    // read with the parser of the day files; a line that is no event there
    // is left out, and so is a signal of another type or shape.
    static std::vector<Announcement> parseAnnouncement(const QString& type, const QByteArray& lines);

Q_SIGNALS:
    void replied(const QString& reply);
    // Once per command given to setPipe/saveSettings/updateEvents, however
    // many messages it took: the daemon did not take it, and why.
    void commandFailed(const QString& reason);
    void announced(const std::vector<Announcement>& events);
    // The daemon took the subscription; `again` after its name changed
    // owner, when announcements may have been missed meanwhile.
    void subscribed(bool again);
    // The daemon could not subscribe us (it refused), and why.
    void subscriptionFailed(const QString& reason);
    // The daemon had to leave `count` announcements out for us: the list
    // no longer matches the store.
    void eventsDropped(quint64 count);

private Q_SLOTS:
    void onBrantwellSignal(const QString& type, const QByteArray& lines);
    void onEventsDropped(qulonglong count);

private:
    void requestSubscription(bool again);
    struct Group;
    void send(const std::string& command, const std::shared_ptr<Group>& group);

    QDBusConnection connection_;
    BrantwellProxy* daemon_ = nullptr;  // its signals; commands go out as plain calls
    bool listening_ = false;
    QDBusServiceWatcher* ownerWatcher_ = nullptr;
};

} // namespace brantwell
