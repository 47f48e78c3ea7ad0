// The D-Bus link on a private bus: commands, replies, refusals and the
// subscription to the daemon's announcements.
#include <QtTest>

#include <QDBusArgument>

#include <nlohmann/json.hpp>

#include "DaemonLink.h"
#include "testkit/PrivateBus.h"
#include "testkit/RealDaemon.h"

using namespace brantwell;

class DaemonLinkTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<testkit::PrivateBus> bus_;

private Q_SLOTS:
    void init()
    {
        bus_ = std::make_unique<testkit::PrivateBus>();
        QVERIFY2(!bus_->address().isEmpty(), "dbus-daemon did not start");
    }
    void cleanup() { bus_.reset(); }

    void sendsACommandAndLogsTheReply()
    {
        testkit::BusPeer peer(bus_->connect(QStringLiteral("peer1")));
        QVERIFY(peer.ok());
        DaemonLink link(bus_->connect(QStringLiteral("app1")));
        QSignalSpy replied(&link, &DaemonLink::replied);
        QTest::ignoreMessage(QtInfoMsg, "Received response: Received");
        link.saveSettings({{"dateFormat", "HH:mm"}});
        QVERIFY(replied.wait(5000));
        QCOMPARE(peer.commands.size(), 1);
        const auto json = nlohmann::json::parse(peer.commands[0].toStdString());
        QCOMPARE(json["command"].get<std::string>(), std::string("save"));
        QCOMPARE(json["Settings"]["dateFormat"].get<std::string>(), std::string("HH:mm"));
    }

    void neverBlocksTheCaller()
    {
        testkit::BusPeer peer(bus_->connect(QStringLiteral("peer2")));
        DaemonLink link(bus_->connect(QStringLiteral("app2")));
        link.setPipe(R"({"command":"update","Events":{}})");
        // Nothing can have been answered before the event loop runs.
        QCOMPARE(peer.commands.size(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(peer.commands.size(), 1, 5000);
    }

    void tellsOnceThatTheDaemonIsNotRunning()
    {
        DaemonLink link(bus_->connect(QStringLiteral("app3")));
        QSignalSpy failed(&link, &DaemonLink::commandFailed);
        QSignalSpy replied(&link, &DaemonLink::replied);
        DeletionCounts counts;
        for (int i = 0; i < 3000; ++i)  // several commands
            counts[std::string(400, 'a') + std::to_string(i) + "\n"] = 1;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not running"));
        link.updateEvents(counts);
        QVERIFY(failed.wait(5000));
        QTest::qWait(200);
        QCOMPARE(failed.count(), 1);
        QVERIFY(failed.first().first().toString().contains(QLatin1String("BrantwellSrv is not running")));
        QCOMPARE(replied.count(), 0);
    }

    // Without --data-dir the application reads where the daemon stores.
    void learnsTheDataDirectoryFromTheRunningDaemonOnly()
    {
        // No daemon on the bus: nothing to learn, and no long wait for it.
        QElapsedTimer clock;
        clock.start();
        QVERIFY(askDaemonDataDirectory(bus_->connect(QStringLiteral("ask1"))).isEmpty());
        QVERIFY(clock.elapsed() < 4000);
        // No bus at all.
        QVERIFY(askDaemonDataDirectory(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                                     QStringLiteral("ask2")))
                    .isEmpty());
        // Something owns the name but does not answer getStatus.
        {
            testkit::BusPeer peer(bus_->connect(QStringLiteral("peer-ask")));
            QVERIFY(peer.ok());
            QVERIFY(askDaemonDataDirectory(bus_->connect(QStringLiteral("ask3"))).isEmpty());
        }
        if (const QString why = testkit::RealDaemon::missing(); !why.isEmpty())
            QSKIP(qPrintable(why));
        testkit::RealDaemon daemon;
        QVERIFY(daemon.running());
        QCOMPARE(askDaemonDataDirectory(daemon.connect(QStringLiteral("ask4"))),
                 QString::fromStdString(daemon.dataDir()));
    }

    void tellsWhyTheDaemonRefused()
    {
        testkit::BusPeer peer(bus_->connect(QStringLiteral("peer4")));
        peer.refuse = true;
        DaemonLink link(bus_->connect(QStringLiteral("app4")));
        QSignalSpy failed(&link, &DaemonLink::commandFailed);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused"));
        link.setPipe(R"({"command":"email"})");
        QVERIFY(failed.wait(5000));
        QVERIFY(failed.first().first().toString().contains(QLatin1String("group brantwell")));
    }

    void receivesTheAnnouncementsOfTheDaemon()
    {
        testkit::BusPeer peer(bus_->connect(QStringLiteral("peer5")));
        DaemonLink link(bus_->connect(QStringLiteral("app5")));
        QVERIFY(link.subscribe());
        QSignalSpy announced(&link, &DaemonLink::announced);
        // Two signals: one per type.
        QVERIFY(peer.announce({{Announcement::Type::Set, {"1772870000", "Mail.Error", "10.0.0.9", "a,b"}},
                               {Announcement::Type::Remove, {"1772860000", "User.Notice", "h", "old"}}}));
        QTRY_COMPARE_WITH_TIMEOUT(announced.count(), 2, 5000);
        const auto set = announced.at(0).first().value<std::vector<Announcement>>();
        QCOMPARE(set.size(), std::size_t{1});
        QVERIFY(set[0].type == Announcement::Type::Set);
        QCOMPARE(set[0].record, (EventRecord{"1772870000", "Mail.Error", "10.0.0.9", "a,b"}));
        const auto removed = announced.at(1).first().value<std::vector<Announcement>>();
        QCOMPARE(removed.size(), std::size_t{1});
        QVERIFY(removed[0].type == Announcement::Type::Remove);
        QCOMPARE(removed[0].record, (EventRecord{"1772860000", "User.Notice", "h", "old"}));
    }

    void ignoresAnnouncementsOfOtherPeers()
    {
        testkit::BusPeer peer(bus_->connect(QStringLiteral("peer6")));
        DaemonLink link(bus_->connect(QStringLiteral("app6")));
        QVERIFY(link.subscribe());
        QSignalSpy announced(&link, &DaemonLink::announced);
        // Same path and interface, but not from the owner of the name.
        auto other = bus_->connect(QStringLiteral("intruder"));
        QDBusMessage fake = QDBusMessage::createSignal(QString::fromLatin1(kDaemonPath),
                                                       QString::fromLatin1(kDaemonInterface),
                                                       QString::fromLatin1(bus::kEventSignal));
        fake << QStringLiteral("Set") << QByteArray("1,User.Notice,evil,fake\n");
        QVERIFY(other.send(fake));
        QVERIFY(peer.announce({{Announcement::Type::Set, {"2", "User.Notice", "good", "real"}}}));
        QVERIFY(announced.wait(5000));
        QTest::qWait(100);
        QCOMPARE(announced.count(), 1);
        const auto events = announced.first().first().value<std::vector<Announcement>>();
        QCOMPARE(QString::fromStdString(events[0].record.host), QStringLiteral("good"));
    }

    void leavesOutLinesThatAreNoEventsAndSignalsOfAnUnknownType()
    {
        testkit::BusPeer peer(bus_->connect(QStringLiteral("peer7")));
        DaemonLink link(bus_->connect(QStringLiteral("app7")));
        QVERIFY(link.subscribe());
        QSignalSpy announced(&link, &DaemonLink::announced);
        auto peerConnection = bus_->connect(QStringLiteral("peer7"));
        const auto send = [&](const QString& type, const QByteArray& lines) {
            QDBusMessage real = QDBusMessage::createSignal(QString::fromLatin1(kDaemonPath),
                                                           QString::fromLatin1(kDaemonInterface),
                                                           QString::fromLatin1(bus::kEventSignal));
            real << type << lines;
            return peerConnection.send(real);
        };
        QVERIFY(send(QStringLiteral("Changed"), "1,P,h,unknown type\n"));
        // A line with three fields, an empty line, a line without its LF.
        QVERIFY(send(QStringLiteral("Set"), "1,P,h\n\n1,P,h,kept\n2,P,h,last, without LF"));
        QVERIFY(announced.wait(5000));
        QTest::qWait(100);
        QCOMPARE(announced.count(), 1);
        const auto events = announced.first().first().value<std::vector<Announcement>>();
        QCOMPARE(events.size(), std::size_t{2});
        QCOMPARE(QString::fromStdString(events[0].record.message), QStringLiteral("kept"));
        QCOMPARE(QString::fromStdString(events[1].record.message), QStringLiteral("last, without LF"));
    }
};

QTEST_MAIN(DaemonLinkTest)
#include "DaemonLink_test.moc"
