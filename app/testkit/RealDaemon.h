// The real BrantwellSrv (its path in BRANTWELL_DAEMON) on a private bus, a
// scratch data directory and a free UDP port, for the application's tests.
// Link brantwell_daemon_testkit for the free port.
#pragma once

#include <QDBusConnectionInterface>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <memory>

#include "PrivateBus.h"
#include "StoreDir.h"
#include "testkit/UdpTestClient.h"  // the daemon tests' free port

namespace brantwell::testkit {

class RealDaemon {
public:
    // Why the daemon binary cannot take part; empty when it can.
    static QString missing()
    {
        const QString binary = qEnvironmentVariable("BRANTWELL_DAEMON");
        if (binary.isEmpty() || !QFile::exists(binary))
            return QStringLiteral("BrantwellSrv was not built");
        return {};
    }

    // `port` 0: a free one. `settings`, when given, is the settings file
    // the daemon starts with.
    explicit RealDaemon(std::uint16_t port = 0, const std::string& settings = {})
        : port_(port ? port : test::freeUdpPort())
    {
        if (bus_.address().isEmpty())
            return;
        if (!settings.empty())
            store_.write("Brantwell.ini", settings);
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), bus_.address());
        daemon_.setProcessEnvironment(env);
        daemon_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        daemon_.start(qEnvironmentVariable("BRANTWELL_DAEMON"),
                      {QStringLiteral("--data-dir"), QString::fromStdString(store_.path()), QStringLiteral("--port"),
                       QString::number(port_)});
        if (!daemon_.waitForStarted(5000))
            return;
        // Connection names are process-wide: each daemon's are its own.
        static int started = 0;
        prefix_ = QStringLiteral("daemon%1-").arg(++started);
        auto watcher = connect(QStringLiteral("watcher"));
        running_ = QTest::qWaitFor(
            [&] { return watcher.interface()->isServiceRegistered(QStringLiteral("com.Corvanta.BrantwellSrv")).value(); },
            10000);
    }

    ~RealDaemon() { stop(); }

    // Ends the daemon; the bus stays.
    void stop()
    {
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.terminate();
            if (!daemon_.waitForFinished(5000))
                daemon_.kill();
            daemon_.waitForFinished(2000);
        }
    }

    bool running() const { return running_ && daemon_.state() == QProcess::Running; }
    QDBusConnection connect(const QString& name) const { return bus_.connect(prefix_ + name); }
    const StoreDir& store() const { return store_; }
    std::string dataDir() const { return store_.path(); }
    std::uint16_t port() const { return port_; }
    nlohmann::json settingsFile() const
    {
        return nlohmann::json::parse(store_.read("Brantwell.ini"), nullptr, false);
    }

private:
    PrivateBus bus_;
    StoreDir store_;
    std::uint16_t port_;
    QProcess daemon_;
    bool running_ = false;
    QString prefix_;
};

} // namespace brantwell::testkit
