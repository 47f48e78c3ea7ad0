// The Home page: overall status from counts and display classes, the
// statements read from the settings file, and the daemon's own answer.
#include <QtTest>

#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QTcpServer>
#include <QUdpSocket>

#include "HomeStatus.h"
#include "HomeView.h"
#include "testkit/RealDaemon.h"
#include "testkit/StoreDir.h"

using namespace brantwell;

namespace {

using Row = std::array<std::int64_t, kSeverityRows>;

void addEvents(EventListModel& model, const char* priority, int n)
{
    std::vector<EventRecord> events(static_cast<std::size_t>(n), EventRecord{"1772870000", priority, "h", "m"});
    model.addEvents(events);
}

QString text(const HomeView& home, const char* name)
{
    return home.findChild<QLabel*>(QString::fromLatin1(name))->text();
}

} // namespace

class HomeViewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void computesTheOverallStatus_data()
    {
        QTest::addColumn<Row>("counts");
        QTest::addColumn<Row>("classes");
        QTest::addColumn<int>("previous");
        QTest::addColumn<int>("status");
        const Row defaults{2, 2, 2, 1, 1, 1, 0, 0, 0};
        QTest::newRow("no events") << Row{} << defaults << 0 << 0;
        QTest::newRow("no events, all severe") << Row{} << Row{2, 2, 2, 2, 2, 2, 2, 2, 2} << 0 << 0;
        QTest::newRow("one emergency") << Row{1} << defaults << 0 << 2;
        QTest::newRow("only class 0 rows") << Row{0, 0, 0, 0, 0, 0, 5, 3, 1} << defaults << 0 << 0;
        QTest::newRow("warning") << Row{0, 0, 0, 0, 4} << defaults << 0 << 1;
        QTest::newRow("highest wins") << Row{0, 0, 0, 1, 0, 0, 0, 1} << Row{0, 0, 0, 1, 0, 0, 0, 2} << 0 << 2;
        QTest::newRow("class 3 keeps previous") << Row{0, 0, 0, 1} << Row{0, 0, 0, 3} << 1 << 1;
        QTest::newRow("negative class ignored") << Row{1} << Row{-1} << 2 << 0;
    }
    void computesTheOverallStatus()
    {
        QFETCH(Row, counts);
        QFETCH(Row, classes);
        QFETCH(int, previous);
        QFETCH(int, status);
        QCOMPARE(severityStatusOf(counts, classes, previous), status);
    }

    void showsTheLookOfEachStatus()
    {
        testkit::StoreDir store;
        EventListModel model;
        HomeView home(&model, store.path());
        QCOMPARE(home.severityStatus(), 0);
        QCOMPARE(text(home, "eventsTitle"), QStringLiteral("No unwanted or harmful events detected."));
        QCOMPARE(home.findChild<QLabel*>("eventsImage")->property("imageName").toString(), QStringLiteral("Normal"));

        addEvents(model, "User.Warning", 3);
        home.setEventsStatus();
        QCOMPARE(home.severityStatus(), 1);
        QCOMPARE(text(home, "eventsWarning"), QStringLiteral("3"));
        QCOMPARE(text(home, "eventsTitle"), QStringLiteral("Review potentialy unwanted events."));
        QCOMPARE(home.findChild<ColorFrame*>("eventsBox")->borderColor(), QColor::fromRgbF(0.99f, 0.89f, 0.67f));
        QCOMPARE(home.findChild<ColorFrame*>("eventsInnerBox")->borderColor(), QColor::fromRgbF(0.99f, 0.94f, 0.83f));
        QCOMPARE(home.findChild<HomeViewBar*>("eventsBar")->startColor(), QColor::fromRgbF(0.99f, 0.93f, 0.41f));

        addEvents(model, "Alert.Debug", 1);  // the Alert row, class 2
        home.setEventsStatus();
        QCOMPARE(home.severityStatus(), 2);
        QCOMPARE(text(home, "eventsAlerting"), QStringLiteral("1"));
        QCOMPARE(text(home, "eventsDebug"), QStringLiteral("0"));
        QCOMPARE(text(home, "eventsTitle"), QStringLiteral("Review harmful or potentialy unwanted events."));
        QCOMPARE(home.findChild<QLabel*>("eventsImage")->property("imageName").toString(), QStringLiteral("Severe"));
        QVERIFY(!home.findChild<QLabel*>("eventsImage")->pixmap().isNull());
    }

    void keepsThePreviousLookForDisplayClassThree()
    {
        testkit::StoreDir store;
        EventListModel model;
        HomeView home(&model, store.path());
        addEvents(model, "User.Error", 1);
        home.setEventsStatus();
        QCOMPARE(home.severityStatus(), 1);
        auto classes = std::array<std::int64_t, kSeverityRows>{2, 2, 2, 3, 1, 1, 0, 0, 0};
        model.setDisplayClasses(classes);
        home.setEventsStatus();
        QCOMPARE(home.severityStatus(), 1);
        QCOMPARE(text(home, "eventsTitle"), QStringLiteral("Review potentialy unwanted events."));
    }

    void readsTheActionsAndExportStatements_data()
    {
        QTest::addColumn<QString>("settings");  // empty: no file
        QTest::addColumn<QString>("actions");
        QTest::addColumn<QString>("exportText");
        QTest::newRow("no file") << "" << "Do not use actions" << "Do not use export";
        QTest::newRow("empty actions") << R"({"actionsArray": [], "textInterval": 0})"
                                       << "Do not use actions" << "Do not use export";
        QTest::newRow("one action") << R"({"actionsArray": [{"Name": "a"}]})"
                                    << "Actions enabled" << "Do not use export";
        QTest::newRow("database only") << R"({"textInterval": 0, "databaseInterval": 5})"
                                       << "Do not use actions" << "Export enabled";
        QTest::newRow("text only") << R"({"textInterval": 1})" << "Do not use actions" << "Export enabled";
        QTest::newRow("not json") << "garbage" << "Do not use actions" << "Do not use export";
    }
    void readsTheActionsAndExportStatements()
    {
        QFETCH(QString, settings);
        QFETCH(QString, actions);
        QFETCH(QString, exportText);
        testkit::StoreDir store;
        if (!settings.isEmpty())
            store.write("Brantwell.ini", settings.toStdString());
        EventListModel model;
        HomeView home(&model, store.path());
        home.refresh();
        QCOMPARE(text(home, "statusActions"), actions);
        QCOMPARE(text(home, "statusExport"), exportText);
        QCOMPARE(text(home, "statusVersion"), QStringLiteral("Linux program ") + QStringLiteral(BRANTWELL_VERSION));
    }

    // The daemon check asks the daemon itself on the bus: with one that
    // runs, the page says so, per transport whether it receives, and what
    // the daemon knows to be wrong; once it is stopped, that it is not
    // running (a process of that name elsewhere counts for nothing).
    void asksTheRealDaemonAndSaysWhenItStopped()
    {
        if (const QString why = testkit::RealDaemon::missing(); !why.isEmpty())
            QSKIP(qPrintable(why));
        // An export switched on without a location: the daemon exports
        // nothing and knows it.
        testkit::RealDaemon daemon(0, R"({"textInterval": 1, "textLocation": ""})");
        QVERIFY(daemon.running());
        EventListModel model;
        HomeView home(&model, daemon.dataDir());
        home.setDaemonBus(daemon.connect(QStringLiteral("home1")));
        const auto askedAgain = [&] {
            home.setMonitorStatus();
            return QTest::qWaitFor([&] { return !home.isAsking(); }, 10000);
        };
        QVERIFY(askedAgain());
        QCOMPARE(text(home, "statusMonitor"), QStringLiteral("Running"));
        QVERIFY2(text(home, "statusReception").contains(QStringLiteral("UDP: receiving on port %1").arg(daemon.port())),
                 qPrintable(text(home, "statusReception")));
        QVERIFY(text(home, "statusReception").contains(QStringLiteral("TCP: off")));
        QTRY_VERIFY_WITH_TIMEOUT(askedAgain() && home.findChild<QLabel*>("statusWarnings")->isVisibleTo(&home), 10000);
        QVERIFY2(text(home, "statusWarnings")
                     .contains(QStringLiteral("Text export: textInterval is set but textLocation is empty")),
                 qPrintable(text(home, "statusWarnings")));

        daemon.stop();
        QVERIFY(askedAgain());
        QVERIFY2(text(home, "statusMonitor").startsWith(QStringLiteral("Stopped")), qPrintable(text(home, "statusMonitor")));
        QVERIFY(!home.findChild<QLabel*>("statusWarnings")->isVisibleTo(&home));
    }

    // An upstream server that cannot be reached is a warning, with the
    // destination's name, why and how much waits for it.
    void warnsOfADestinationThatFails()
    {
        if (const QString why = testkit::RealDaemon::missing(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QTcpServer probe;  // a port nobody listens on once it is closed
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 closed = probe.serverPort();
        probe.close();
        testkit::RealDaemon daemon(0, QStringLiteral(R"({"forwardingArray": [{"Name": "central", "Host": "127.0.0.1",
            "Port": %1, "Transport": "tcp", "Format": "rfc5424"}]})").arg(closed).toStdString());
        QVERIFY(daemon.running());
        EventListModel model;
        HomeView home(&model, daemon.dataDir());
        home.setDaemonBus(daemon.connect(QStringLiteral("home3")));
        const auto askedAgain = [&] {
            home.setMonitorStatus();
            return QTest::qWaitFor([&] { return !home.isAsking(); }, 10000);
        };
        QTRY_VERIFY_WITH_TIMEOUT(askedAgain() && home.findChild<QLabel*>("statusWarnings")->isVisibleTo(&home), 10000);
        QVERIFY2(text(home, "statusWarnings")
                     .startsWith(QStringLiteral("Warning: Forwarding: \"central\" not connected to 127.0.0.1:%1 (tcp): ")
                                     .arg(closed)),
                 qPrintable(text(home, "statusWarnings")));
        QVERIFY(text(home, "statusWarnings").endsWith(QStringLiteral(", 0 events queued")));
    }

    void saysNotReceivingWhileAnotherSocketHoldsTheUdpPort()
    {
        if (const QString why = testkit::RealDaemon::missing(); !why.isEmpty())
            QSKIP(qPrintable(why));
        const std::uint16_t port = test::freeUdpPort();
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, port));
        testkit::RealDaemon daemon(port);
        QVERIFY(daemon.running());
        EventListModel model;
        HomeView home(&model, daemon.dataDir());
        home.setDaemonBus(daemon.connect(QStringLiteral("home2")));
        home.setMonitorStatus();
        QTRY_VERIFY(!home.isAsking());
        QCOMPARE(text(home, "statusMonitor"), QStringLiteral("Running"));
        QVERIFY2(text(home, "statusReception").startsWith(QStringLiteral("UDP: not receiving (")),
                 qPrintable(text(home, "statusReception")));
    }

    // The drop counters at a glance come from the daemon's statistics: a
    // datagram over the size limit is cut, one an exclude filter matches is
    // filtered; each counts once.
    void showsTheDaemonsDropCounters()
    {
        if (const QString why = testkit::RealDaemon::missing(); !why.isEmpty())
            QSKIP(qPrintable(why));
        testkit::RealDaemon daemon(0, R"({"excludeFiltersArray": [{"Name": "quiet", "IP": "0.0.0.0", "Mask": "0",
            "Facility": "*", "Severity": "*", "Message": "*quiet*"}]})");
        QVERIFY(daemon.running());
        EventListModel model;
        HomeView home(&model, daemon.dataDir());
        home.setDaemonBus(daemon.connect(QStringLiteral("home3")));
        test::UdpSender sender;
        QVERIFY(sender.send(daemon.port(), "<14>quiet please"));
        QVERIFY(sender.send(daemon.port(), "<14>oversized " + std::string(3000, 'y')));
        QVERIFY(sender.send(daemon.port(), "<14>plain"));
        const QString expected = QStringLiteral("Kernel drops: 0    Cut frames: 1    Filtered: 1");
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                home.askStatistics();
                (void)QTest::qWaitFor([&] { return !home.isAskingStatistics(); }, 5000);
                return text(home, "statusDrops") == expected;
            }(),
            10000);

        daemon.stop();
        home.askStatistics();
        QTRY_VERIFY(!home.isAskingStatistics());
        QVERIFY2(text(home, "statusDrops").contains(QStringLiteral("not known")), qPrintable(text(home, "statusDrops")));
    }

    // In a dark theme the page, its boxes and the chart take the dark
    // base colour and keep light text, instead of a white page with the
    // theme's light text on it.
    void followsADarkPalette()
    {
        testkit::StoreDir store;
        EventListModel model;
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
        dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
        dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
        dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
        HomeView home(&model, store.path());
        home.setPalette(dark);
        home.resize(900, 900);
        const QImage page = home.grab().toImage();
        QVERIFY2(page.pixelColor(page.width() - 5, page.height() - 5).lightness() < 80,
                 qPrintable(page.pixelColor(page.width() - 5, page.height() - 5).name()));
        auto* box = home.findChild<ColorFrame*>("eventsBox");
        const QImage inside = box->grab().toImage();
        QVERIFY(inside.pixelColor(inside.width() / 2, inside.height() - 8).lightness() < 80);
        const QImage chart = home.chart()->grab().toImage();
        // The chart's axis numbers are drawn in the light text colour.
        bool lightText = false;
        for (int y = 0; y < chart.height() && !lightText; ++y)
            for (int x = 0; x < 30 && !lightText; ++x)
                lightText = chart.pixelColor(x, y).lightness() > 180;
        QVERIFY(lightText);
    }

    void withoutABusSaysStopped()
    {
        testkit::StoreDir store;
        EventListModel model;
        HomeView home(&model, store.path());
        home.refresh();
        QCOMPARE(text(home, "statusMonitor"), QStringLiteral("Stopped (no connection to the system bus)"));
    }
};

QTEST_MAIN(HomeViewTest)
#include "HomeView_test.moc"
