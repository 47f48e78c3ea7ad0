#include "DaemonLink.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLoggingCategory>

#include <nlohmann/json.hpp>

#include "BrantwellProxy.h"
#include "DeletionCounts.h"

Q_LOGGING_CATEGORY(lcDaemonLink, "brantwell.daemonlink", QtInfoMsg)

namespace brantwell {

// The calls below are made as plain messages (a command must not start a
// daemon by bus activation, which the generated calls would ask for); these
// lines hold them to the generated proxy, so that a change of the
// interface's XML fails to compile until this code follows it.
static_assert(std::is_same_v<decltype(&BrantwellProxy::setCommand), QDBusPendingReply<QString> (BrantwellProxy::*)(const QString&)>);
static_assert(std::is_same_v<decltype(&BrantwellProxy::Subscribe), QDBusPendingReply<> (BrantwellProxy::*)()>);
static_assert(std::is_same_v<decltype(&BrantwellProxy::getStatus),
                             QDBusPendingReply<QMap<QString, QString>> (BrantwellProxy::*)()>);

// The messages of one command: its failure is told once.
struct DaemonLink::Group {
    bool failureShown = false;
    Outcome done;
};

QString askDaemonDataDirectory(QDBusConnection connection, int timeoutMs)
{
    if (!connection.isConnected())
        return {};
    registerAnnouncementTypes();
    BrantwellProxy daemon(QString::fromLatin1(kDaemonService), QString::fromLatin1(kDaemonPath), connection);
    daemon.setTimeout(timeoutMs);
    auto reply = daemon.getStatus();
    reply.waitForFinished();
    if (reply.isError())
        return {};
    return reply.value().value(QStringLiteral("dataDirectory"));
}

void registerAnnouncementTypes()
{
    static const bool done = [] {
        qDBusRegisterMetaType<QMap<QString, QString>>();
        qDBusRegisterMetaType<QMap<QString, qulonglong>>();
        return true;
    }();
    (void)done;
}

DaemonLink::DaemonLink(QDBusConnection connection, QObject* parent)
    : QObject(parent), connection_(std::move(connection))
{
    registerAnnouncementTypes();
    daemon_ = new BrantwellProxy(QString::fromLatin1(kDaemonService), QString::fromLatin1(kDaemonPath), connection_, this);
}

void DaemonLink::setPipe(const std::string& command)
{
    send(command, std::make_shared<Group>());
}

void DaemonLink::saveSettings(const nlohmann::json& settings, Outcome done)
{
    auto group = std::make_shared<Group>();
    group->done = std::move(done);
    send(saveCommand(settings), group);
}

void DaemonLink::mergeSettings(const nlohmann::json& keys, Outcome done)
{
    auto group = std::make_shared<Group>();
    group->done = std::move(done);
    send(saveCommand(keys, "merge"), group);
}

bool DaemonLink::daemonRuns() const
{
    if (!connection_.isConnected() || !connection_.interface())
        return false;
    const QDBusReply<bool> owned = connection_.interface()->isServiceRegistered(QString::fromLatin1(kDaemonService));
    return owned.isValid() && owned.value();
}

void DaemonLink::updateEvents(const DeletionCounts& counts)
{
    const auto group = std::make_shared<Group>();
    for (const auto& command : updateCommands(counts))
        send(command, group);
}

namespace {

// One "setCommand" call. The daemon must not start itself for a command
// it would not take.
QDBusMessage setCommandCall(const std::string& command)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kDaemonService), QString::fromLatin1(kDaemonPath),
        QString::fromLatin1(kDaemonInterface), QString::fromLatin1(bus::kSetCommand));
    call << QString::fromStdString(command);
    call.setAutoStartService(false);
    return call;
}

QString failureReason(const QDBusError& error)
{
    if (error.name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
        return QStringLiteral("BrantwellSrv is not running; the command was not sent.");
    // Received, but not carried out (a file that could not be written): the
    // daemon's message names what failed.
    if (error.name() == QLatin1String("org.freedesktop.DBus.Error.Failed") && !error.message().isEmpty())
        return QStringLiteral("BrantwellSrv could not carry out the command: %1").arg(error.message());
    switch (error.type()) {
    case QDBusError::AccessDenied:
        return QStringLiteral("BrantwellSrv refused the command: only root and members of the "
                              "group brantwell may steer it.");
    case QDBusError::ServiceUnknown:
    case QDBusError::NoReply:
    case QDBusError::Disconnected:
    case QDBusError::NoServer:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return QStringLiteral("BrantwellSrv is not running; the command was not sent.");
    default:
        return QStringLiteral("The command could not be given to BrantwellSrv: %1")
            .arg(error.message().isEmpty() ? error.name() : error.message());
    }
}

} // namespace

void DaemonLink::send(const std::string& command, const std::shared_ptr<Group>& group)
{
    auto tellOnce = [this, group](const QString& reason) {
        if (group->failureShown)
            return;
        group->failureShown = true;
        qCWarning(lcDaemonLink).noquote() << reason;
        Q_EMIT commandFailed(reason);
        if (group->done)
            group->done(reason);
    };
    if (!connection_.isConnected()) {
        // Reported from the event loop, as a reply would be.
        QMetaObject::invokeMethod(
            this, [tellOnce] { tellOnce(QStringLiteral("There is no system bus; the command was not sent.")); },
            Qt::QueuedConnection);
        return;
    }
    const QDBusMessage call = setCommandCall(command);
    auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, tellOnce, group](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<QString> reply = *w;
                if (reply.isError()) {
                    tellOnce(failureReason(reply.error()));
                    return;
                }
                const QString text = reply.value();
                qCInfo(lcDaemonLink).noquote() << QStringLiteral("Received response: %1").arg(text);
                Q_EMIT replied(text);
                if (group->done)
                    group->done(QString());
            });
}

void DaemonLink::request(const std::string& command, int timeoutMs, QObject* context,
                         std::function<void(bool ok, const QString& text)> done)
{
    if (!connection_.isConnected()) {
        QMetaObject::invokeMethod(
            context, [done] { done(false, QStringLiteral("There is no system bus; the command was not sent.")); },
            Qt::QueuedConnection);
        return;
    }
    const QDBusMessage call = setCommandCall(command);
    auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(call, timeoutMs), context);
    connect(watcher, &QDBusPendingCallWatcher::finished, context, [done](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QString> reply = *w;
        if (!reply.isError()) {
            qCInfo(lcDaemonLink).noquote() << QStringLiteral("Received response: %1").arg(reply.value());
            done(true, reply.value());
            return;
        }
        const QDBusError error = reply.error();
        QString text;
        if (error.name() == QLatin1String(bus::kMailNotSent))
            text = error.message();
        else if (error.type() == QDBusError::NoReply || error.type() == QDBusError::Timeout)
            // The daemon may be alive and still talking to a slow server.
            text = QStringLiteral("BrantwellSrv gave no answer in time; the outcome is unknown.");
        else
            text = failureReason(error);
        qCWarning(lcDaemonLink).noquote() << text;
        done(false, text);
    });
}

bool DaemonLink::subscribe()
{
    const QString service = QString::fromLatin1(kDaemonService);
    if (!connection_.isConnected())
        return false;
    // Bound to the daemon's well-known name: signals that another peer
    // sends with the same interface are not events of the store.
    if (!listening_) {
        connect(daemon_, &BrantwellProxy::Brantwell, this, &DaemonLink::onBrantwellSignal);
        connect(daemon_, &BrantwellProxy::EventsDropped, this, &DaemonLink::onEventsDropped);
        listening_ = true;
    }
    if (!ownerWatcher_) {
        // A restarted daemon knows nothing of its old subscribers.
        ownerWatcher_ = new QDBusServiceWatcher(service, connection_, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(ownerWatcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString&, const QString& newOwner) {
                    if (!newOwner.isEmpty())
                        requestSubscription(true);
                });
    }
    requestSubscription(false);
    return true;
}

void DaemonLink::requestSubscription(bool again)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kDaemonService), QString::fromLatin1(kDaemonPath),
        QString::fromLatin1(kDaemonInterface), QString::fromLatin1(bus::kSubscribe));
    call.setAutoStartService(false);
    auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, again](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<> reply = *w;
        if (!reply.isError()) {
            Q_EMIT subscribed(again);
            return;
        }
        // A daemon that is not running yet is subscribed to when it starts.
        const QString name = reply.error().name();
        if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
            || name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
            return;
        const QString reason = reply.error().type() == QDBusError::AccessDenied
                                   ? QStringLiteral("BrantwellSrv does not announce its events to this user: only "
                                                    "root and members of the group brantwell receive them.")
                                   : QStringLiteral("Not receiving BrantwellSrv's events: %1").arg(reply.error().message());
        qCWarning(lcDaemonLink).noquote() << reason;
        Q_EMIT subscriptionFailed(reason);
    });
}

std::vector<Announcement> DaemonLink::parseAnnouncement(const QString& type, const QByteArray& lines)
{
    std::vector<Announcement> out;
    const bool set = type == QLatin1String("Set");
    if (!set && type != QLatin1String("Remove"))
        return out;
    // The stored lines, read as the files are read.
    forEachStoredLine(std::string_view(lines.constData(), static_cast<std::size_t>(lines.size())),
                      [&](std::string_view line) {
                          if (auto record = splitEventLine(line))
                              out.push_back({set ? Announcement::Type::Set : Announcement::Type::Remove,
                                             std::move(*record)});
                      });
    return out;
}

void DaemonLink::onEventsDropped(qulonglong count)
{
    qCInfo(lcDaemonLink).noquote() << QStringLiteral("BrantwellSrv left out %1 announcements").arg(count);
    Q_EMIT eventsDropped(count);
}

void DaemonLink::onBrantwellSignal(const QString& type, const QByteArray& lines)
{
    auto events = parseAnnouncement(type, lines);
    if (!events.empty())
        Q_EMIT announced(events);
}

} // namespace brantwell
