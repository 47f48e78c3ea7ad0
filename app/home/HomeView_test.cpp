// The Home page: overall status from counts and display classes, the
// statements read from the settings file, and the daemon's own answer.
#include <QtTest>

#include <QDir>
#include <QLabel>
#include <QProcess>
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
