#include "PrivateBus.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>

#include <exception>

#include "testkit/StockBusConfig.h"

namespace brantwell::testkit {

PrivateBus::PrivateBus()
{
    const QString config = dir_.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return;
    // Debian's stock system bus policy with the project's policy file, as
    // on a machine with the package installed.
    try {
        file.write(QByteArray::fromStdString(
            test::stockSystemBusConfig("unix:dir=" + dir_.path().toStdString())));
    } catch (const std::exception& e) {
        qWarning("%s", e.what());
        return;
    }
    file.close();
    process_.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + config, QStringLiteral("--print-address"),
                    QStringLiteral("--nofork")});
    if (!process_.waitForStarted(5000))
        return;
    while (!process_.canReadLine() && process_.waitForReadyRead(5000)) {
    }
    address_ = QString::fromUtf8(process_.readLine()).trimmed();
}

PrivateBus::~PrivateBus()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(3000))
            process_.kill();
        process_.waitForFinished(1000);
    }
}

QDBusConnection PrivateBus::connect(const QString& name) const
{
    return QDBusConnection::connectToBus(address_, name);
}

BusPeer::BusPeer(QDBusConnection connection) : connection_(std::move(connection))
{
    registerAnnouncementTypes();
    ok_ = connection_.isConnected()
          && connection_.registerObject(QString::fromLatin1(kDaemonPath), this,
                                        QDBusConnection::ExportAllSlots)
          && connection_.registerService(QString::fromLatin1(kDaemonService));
}

BusPeer::~BusPeer()
{
    connection_.unregisterService(QString::fromLatin1(kDaemonService));
    connection_.unregisterObject(QString::fromLatin1(kDaemonPath));
}

QString BusPeer::setCommand(const QString& command, const QDBusMessage& message)
{
    if (refuse) {
        message.setDelayedReply(true);
        connection_.send(message.createErrorReply(QDBusError::AccessDenied,
                                                  QStringLiteral("not in group brantwell")));
        return {};
    }
    commands.push_back(command);
    Q_EMIT commandReceived(command);
    return QString::fromLatin1(bus::kReceived);
}

bool BusPeer::announce(const std::vector<Announcement>& events)
{
    // As the daemon sends them: one signal per run of one type, the stored
    // lines each with its LF.
    for (std::size_t i = 0; i < events.size();) {
        const auto type = events[i].type;
        std::string lines;
        for (; i < events.size() && events[i].type == type; ++i)
            appendEventLine(lines, events[i].record);
        QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kDaemonPath),
                                                         QString::fromLatin1(kDaemonInterface),
                                                         QString::fromLatin1(bus::kEventSignal));
        signal << (type == Announcement::Type::Set ? QStringLiteral("Set") : QStringLiteral("Remove"))
               << QByteArray(lines.data(), static_cast<qsizetype>(lines.size()));
        if (!connection_.send(signal))
            return false;
    }
    return true;
}

} // namespace brantwell::testkit
