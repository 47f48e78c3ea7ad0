// The Home page: overall status from counts and display classes, the
// statements read from the settings file, and the daemon check.
#include <QtTest>

#include <QDir>
#include <QLabel>
#include <QProcess>

#include "HomeStatus.h"
#include "HomeView.h"
#include "ProcessCheck.h"
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

    void comparesTheWholeCommandName()
    {
        QTemporaryDir proc;
        auto addProcess = [&](const char* pid, const char* comm) {
            QVERIFY(QDir(proc.path()).mkpath(QString::fromLatin1(pid)));
            QFile f(proc.filePath(QString::fromLatin1(pid) + QStringLiteral("/comm")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(comm);
        };
        addProcess("12", "BrantwellSrvOld\n");
        addProcess("13", "Brantwell\n");
        addProcess("self", "BrantwellSrv\n");  // not a process directory
        QVERIFY(!isProcessRunning(kDaemonProcessName, proc.path().toStdString()));

        testkit::StoreDir store;
        EventListModel model;
        HomeView home(&model, store.path());
        home.setProcRoot(proc.path().toStdString());
        home.setMonitorStatus();
        QCOMPARE(text(home, "statusMonitor"), QStringLiteral("Stopped"));

        addProcess("14", "BrantwellSrv\n");
        home.setMonitorStatus();
        QCOMPARE(text(home, "statusMonitor"), QStringLiteral("Running"));
        QVERIFY(!isProcessRunning(kDaemonProcessName, proc.filePath(QStringLiteral("missing")).toStdString()));
    }

    void findsARealProcessByItsCommandName()
    {
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("BrantwellSrv"));
        QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), program));
        QProcess sleeper;
        sleeper.start(program, {QStringLiteral("30")});
        QVERIFY(sleeper.waitForStarted());
        QVERIFY(isProcessRunning(kDaemonProcessName));
        sleeper.kill();
        sleeper.waitForFinished();
    }
};

QTEST_MAIN(HomeViewTest)
#include "HomeView_test.moc"
