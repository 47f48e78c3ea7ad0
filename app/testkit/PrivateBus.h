// A private dbus-daemon for one test, and a peer on it that owns the
// daemon's name, answers its commands and sends its announcements.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include "events/DaemonLink.h"

namespace brantwell::testkit {

class PrivateBus {
public:
    PrivateBus();  // starts the bus; address() is empty when that failed
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const QString& address() const { return address_; }
    // The bus daemon's process, for a test that pauses the bus.
    qint64 processId() const { return process_.processId(); }
    // A new connection of its own to this bus.
    QDBusConnection connect(const QString& name) const;

private:
    QTemporaryDir dir_;
    QProcess process_;
    QString address_;
};

// Stands in for the daemon's side of the bus: owns the well-known name,
// records every command and answers "Received" (or AccessDenied).
class BusPeer final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", BRANTWELL_BUS_INTERFACE)
public:
    explicit BusPeer(QDBusConnection connection);
    ~BusPeer() override;
    bool ok() const { return ok_; }

    QStringList commands;
    bool refuse = false;

    // Sends one "Brantwell" signal with these events.
    bool announce(const std::vector<Announcement>& events);

    int subscriptions = 0;  // Subscribe calls taken

public Q_SLOTS:
    QString setCommand(const QString& command, const QDBusMessage& message);
    void Subscribe() { ++subscriptions; }
    void Unsubscribe() {}

Q_SIGNALS:
    void commandReceived(const QString& command);

private:
    QDBusConnection connection_;
    bool ok_ = false;
};

} // namespace brantwell::testkit
