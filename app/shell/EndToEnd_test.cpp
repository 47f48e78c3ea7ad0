// The application with the real BrantwellSrv on a private bus, a scratch
// data directory and a free UDP port: a datagram reaches the list, a
// deletion reaches the files, an aged-out event leaves the list, and a new
// start of the application lists what the files hold.
#include <QtTest>

#include <algorithm>
#include <csignal>

#include <QDBusConnectionInterface>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>

#include "events/EventLogReader.h"
#include "testkit/PrivateBus.h"
#include "events/ScanView.h"
#include "popups/PopupThread.h"
#include "common/SeverityImages.h"
#include "testkit/StoreDir.h"
#include "testkit/UdpTestClient.h"  // the daemon tests' UDP client
#include "WindowController.h"
#include "editors/ToolsView.h"
#include "editors/ToolsViewOptions.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

using namespace brantwell;

namespace {

void sendDatagram(std::uint16_t port, const QByteArray& bytes)
{
    test::UdpSender().send(port, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

std::string allFiles(const testkit::StoreDir& store)
{
    std::string text;
    for (const auto& name : eventLogFiles(store.path()))
        text += store.read(name);
    return text;
}

// The stored lines and the listed events, each sorted, for comparing.
std::vector<std::string> fileLines(const testkit::StoreDir& store)
{
    std::vector<std::string> lines;
    const std::string text = allFiles(store);
    for (std::size_t start = 0, lf; (lf = text.find('\n', start)) != std::string::npos; start = lf + 1)
        lines.push_back(text.substr(start, lf + 1 - start));
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::string> listedLines(const WindowController& window)
{
    std::vector<std::string> lines;
    for (int row = 0; row < window.events()->rowCount(); ++row)
        lines.push_back(formatEventLine(window.events()->record(row)));
    std::sort(lines.begin(), lines.end());
    return lines;
}

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<testkit::PrivateBus> bus_;
    std::unique_ptr<testkit::StoreDir> store_;
    QProcess daemon_;
    std::uint16_t port_ = 0;
    int n_ = 0;

    QDBusConnection connection()
    {
        return bus_->connect(QStringLiteral("e2e%1").arg(++n_));
    }

    // Why the daemon binary cannot take part; empty when it can.
    static QString daemonMissing()
    {
        const QString binary = qEnvironmentVariable("BRANTWELL_DAEMON");
        if (binary.isEmpty() || !QFile::exists(binary))
            return QStringLiteral("BrantwellSrv was not built");
        // A daemon built without its D-Bus channel cannot take part yet.
        QFile file(binary);
        if (!file.open(QIODevice::ReadOnly) || !file.readAll().contains(kDaemonInterface))
            return QStringLiteral("this BrantwellSrv has no D-Bus command channel");
        return {};
    }

    // The daemon sends events only once it has taken the subscription the
    // window asked for as it opened.
    static bool waitForSubscription(WindowController& window)
    {
        QSignalSpy subscribed(window.link(), &DaemonLink::subscribed);
        return subscribed.wait(10000);
    }

    // Starts the daemon; true once it owns its name on the bus.
    bool startDaemon()
    {
        port_ = test::freeUdpPort();
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), bus_->address());
        daemon_.setProcessEnvironment(env);
        daemon_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        daemon_.start(qEnvironmentVariable("BRANTWELL_DAEMON"),
                      {QStringLiteral("--data-dir"), QString::fromStdString(store_->path()), QStringLiteral("--port"),
                       QString::number(port_)});
        if (!daemon_.waitForStarted(5000))
            return false;
        auto watcher = connection();
        return QTest::qWaitFor(
            [&] { return watcher.interface()->isServiceRegistered(QString::fromLatin1(kDaemonService)).value(); },
            10000);
    }

private Q_SLOTS:
    void init()
    {
        if (const QString why = daemonMissing(); !why.isEmpty())
            QSKIP(qPrintable(why));
        bus_ = std::make_unique<testkit::PrivateBus>();
        QVERIFY(!bus_->address().isEmpty());
        store_ = std::make_unique<testkit::StoreDir>();
    }
    void cleanup()
    {
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.terminate();
            if (!daemon_.waitForFinished(5000))
                daemon_.kill();
            daemon_.waitForFinished(2000);
        }
        bus_.reset();
        store_.reset();
    }

    void listsADatagramAndDeletesItFromTheFiles()
    {
        QVERIFY(startDaemon());
        WindowController window({store_->path(), port_}, connection());
        QVERIFY(waitForSubscription(window));
        window.show();
        window.Scan();
        auto* list = window.scanView()->tableView()->model();

        sendDatagram(port_, "<11>disk failure, sector 7");  // User.Error
        QTRY_COMPARE_WITH_TIMEOUT(list->rowCount(), 1, 10000);
        const EventRecord listed = window.events()->record(0);
        QCOMPARE(QString::fromStdString(listed.priority), QStringLiteral("User.Error"));
        QCOMPARE(QString::fromStdString(listed.host), QStringLiteral("127.0.0.1"));
        QCOMPARE(QString::fromStdString(listed.message), QStringLiteral("disk failure, sector 7"));
        // User.Error is in the Error row, display class 1 by default.
        QCOMPARE(window.events()->displayClassOf(0), 1);
        QVERIFY(!list->data(list->index(0, EventListModel::ImageColumn), Qt::DecorationRole).isNull());
        QTRY_VERIFY_WITH_TIMEOUT(allFiles(*store_).find(formatEventLine(listed)) != std::string::npos, 5000);

        window.scanView()->tableView()->selectRow(0);
        QSignalSpy replied(window.link(), &DaemonLink::replied);
        window.scanView()->deleteChosen(false);
        QVERIFY(replied.wait(10000));
        QCOMPARE(list->rowCount(), 0);
        QVERIFY(allFiles(*store_).find(formatEventLine(listed)) == std::string::npos);
    }

    void takesOutTheRowOfAnEventRemovedByAge()
    {
        // Notices older than one minute go; the daemon's first removal
        // pass runs as it starts.
        store_->writeSettings({{"removalNotice", 1}, {"removalNoticeUnits", 0}});
        const long long hourAgo = QDateTime::currentSecsSinceEpoch() - 3600;
        const EventRecord old{std::to_string(hourAgo), "User.Notice", "10.0.0.5", "stale, old"};
        const EventRecord fresh{std::to_string(hourAgo), "User.Error", "10.0.0.5", "kept"};
        store_->write(eventLogFileName(hourAgo), formatEventLine(old) + formatEventLine(fresh));
        WindowController window({store_->path(), 0}, connection());
        window.show();
        window.Scan();
        QCOMPARE(window.events()->rowCount(), 2);
        QVERIFY(startDaemon());
        QTRY_COMPARE_WITH_TIMEOUT(window.events()->rowCount(), 1, 10000);
        QCOMPARE(QString::fromStdString(window.events()->record(0).message), QStringLiteral("kept"));
        QVERIFY(allFiles(*store_).find(formatEventLine(old)) == std::string::npos);
    }

    void raisesAPopupWithTheEventsHeaderAndDetails()
    {
        store_->writeSettings({{"popupEvents", 5},
                               {"popupDisplayArray", {"Critical", "Error"}},
                               {"dateFormat", "yyyy-MM-dd HH:mm:ss"}});
        QVERIFY(startDaemon());
        WindowController window({store_->path(), port_}, connection());
        QVERIFY(waitForSubscription(window));
        window.show();
        QSignalSpy shown(window.popupThread(), &PopupThread::popupShown);
        sendDatagram(port_, "<14>just information");  // User.Informational: not chosen
        sendDatagram(port_, "<11>disk failure, sector 7");  // User.Error
        QVERIFY(shown.wait(10000));
        PopupView* popup = window.popupThread()->currentPopup();
        QVERIFY(popup && popup->isVisible());
        QCOMPARE(popup->findChild<QLabel*>(QStringLiteral("popupHeader"))->text(), QStringLiteral("Error"));
        const EventRecord& shownEvent = popup->popupDict();
        const QString date = QDateTime::fromSecsSinceEpoch(std::stoll(shownEvent.date))
                                 .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QVERIFY(std::abs(std::stoll(shownEvent.date) - QDateTime::currentSecsSinceEpoch()) < 120);
        QCOMPARE(popup->findChild<QPlainTextEdit*>(QStringLiteral("popupDetails"))->toPlainText(),
                 QStringLiteral("Date: %1\nPriority: User.Error\nHost: 127.0.0.1\n\nMessage:\ndisk failure, sector 7")
                     .arg(date));
        QCOMPARE(shown.count(), 1);
    }

    void subscribesAgainWhenTheDaemonRestarts()
    {
        QVERIFY(startDaemon());
        WindowController window({store_->path(), port_}, connection());
        QVERIFY(waitForSubscription(window));
        window.show();
        sendDatagram(port_, "<13>before the restart");
        QTRY_COMPARE_WITH_TIMEOUT(window.events()->rowCount(), 1, 10000);

        QSignalSpy subscribed(window.link(), &DaemonLink::subscribed);
        daemon_.terminate();
        QVERIFY(daemon_.waitForFinished(10000));
        // Stored while the application was not subscribed.
        const long long now = QDateTime::currentSecsSinceEpoch();
        const EventRecord meanwhile{std::to_string(now - 86400), "User.Notice", "10.0.0.9", "while away"};
        store_->write(eventLogFileName(now - 86400), formatEventLine(meanwhile));
        QVERIFY(startDaemon());
        QTRY_VERIFY_WITH_TIMEOUT(!subscribed.isEmpty(), 10000);
        QCOMPARE(subscribed.first().first().toBool(), true);
        QTRY_COMPARE_WITH_TIMEOUT(window.events()->rowCount(), 2, 10000);

        sendDatagram(port_, "<13>after the restart");
        QTRY_COMPARE_WITH_TIMEOUT(window.events()->rowCount(), 3, 10000);
        QCOMPARE(QString::fromStdString(window.events()->record(0).message), QStringLiteral("after the restart"));
        QCOMPARE(listedLines(window), fileLines(*store_));
    }

    void listsExactlyTheFilesAfterTheDaemonLeftEventsOut()
    {
        QVERIFY(startDaemon());
        WindowController window({store_->path(), port_}, connection());
        QVERIFY(waitForSubscription(window));
        window.show();
        QSignalSpy dropped(window.link(), &DaemonLink::eventsDropped);
        // A bus that takes nothing for a while: the daemon stores every
        // event, its subscriber cannot show that it reads, and the daemon
        // must leave announcements out. (Pausing the bus, not the
        // application: QtDBus answers the daemon's pings on a thread of its
        // own, however busy the window is.)
        const auto busPid = static_cast<pid_t>(bus_->processId());
        QVERIFY(busPid > 0);
        ::kill(busPid, SIGSTOP);
        test::UdpSender sender;
        for (int i = 0; i < 100000; ++i)
            sender.send(port_, "<13>burst event " + std::to_string(i));
        QTest::qWait(1000);
        ::kill(busPid, SIGCONT);
        QTRY_VERIFY2_WITH_TIMEOUT(!dropped.isEmpty(), "the daemon announced every event", 30000);
        QVERIFY(dropped.first().first().toULongLong() > 0);
        QTRY_VERIFY_WITH_TIMEOUT(listedLines(window) == fileLines(*store_), 30000);
        QCOMPARE(listedLines(window).size(), fileLines(*store_).size());
    }

    void listsWhatTheFilesHoldNewestFirstAtTheNextStart()
    {
        QVERIFY(startDaemon());
        {
            WindowController window({store_->path(), port_}, connection());
            QVERIFY(waitForSubscription(window));
            window.show();
            for (int i = 0; i < 3; ++i) {
                sendDatagram(port_, QByteArray("<13>message ") + QByteArray::number(i));
                QTRY_COMPARE_WITH_TIMEOUT(window.events()->rowCount(), i + 1, 10000);
            }
        }
        WindowController again({store_->path(), port_}, connection());
        QCOMPARE(again.events()->rowCount(), 3);
        for (int row = 0; row < 3; ++row)
            QCOMPARE(QString::fromStdString(again.events()->record(row).message),
                     QStringLiteral("message %1").arg(2 - row));
    }

    void anExcludeFilterMadeInTheEditorsDropsMatchingDatagrams()
    {
        QVERIFY(startDaemon());
        WindowController window({store_->path(), port_}, connection());
        window.show();
        window.Tools();
        window.findChild<ToolsViewLink*>(QStringLiteral("toolsOptions"))->click();
        auto* options = window.findChild<ToolsViewOptions*>(QStringLiteral("toolsViewOptions"));
        options->findChild<QPushButton*>(QStringLiteral("excludeFiltersAdd"))->click();
        ToolsViewFilter* sheet = options->filterView();
        QVERIFY(sheet);
        sheet->findChild<QLineEdit*>(QStringLiteral("filterName"))->setText(QStringLiteral("chatter"));
        sheet->findChild<QLineEdit*>(QStringLiteral("filterMessage"))->setText(QStringLiteral("*heartbeat*"));
        sheet->findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
        options->findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
        // The page returns once the daemon took the save.
        QTRY_COMPARE_WITH_TIMEOUT(window.currentPage(), 3, 10000);
        const auto file = nlohmann::json::parse(store_->read("Brantwell.ini"));
        QCOMPARE(file["excludeFiltersArray"][0]["Name"], nlohmann::json("chatter"));

        sendDatagram(port_, "<14>link heartbeat 42");
        sendDatagram(port_, "<14>link down on port 3");
        QTRY_COMPARE_WITH_TIMEOUT(window.events()->rowCount(), 1, 10000);
        QCOMPARE(QString::fromStdString(window.events()->record(0).message), QStringLiteral("link down on port 3"));
        QVERIFY(allFiles(*store_).find("heartbeat") == std::string::npos);
    }

    void exportSettingsSavedInTheEditorAreWhatTheDaemonHolds()
    {
        QVERIFY(startDaemon());
        WindowController window({store_->path(), port_}, connection());
        window.show();
        window.Tools();
        window.findChild<ToolsViewLink*>(QStringLiteral("toolsExport"))->click();
        auto* page = window.findChild<QWidget*>(QStringLiteral("toolsViewExport"));
        const QString dir = QString::fromStdString(store_->path());
        page->findChild<QCheckBox*>(QStringLiteral("exportText"))->click();
        page->findChild<QSpinBox*>(QStringLiteral("textInterval"))->setValue(15);
        page->findChild<QLineEdit*>(QStringLiteral("textLocation"))->setText(dir + QStringLiteral("/out/events.csv"));
        page->findChild<QCheckBox*>(QStringLiteral("exportDatabase"))->click();
        page->findChild<QLineEdit*>(QStringLiteral("databaseLocation"))->setText(dir + QStringLiteral("/out/events.db"));
        page->findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(window.currentPage(), 3, 10000);
        const auto file = nlohmann::json::parse(store_->read("Brantwell.ini"));
        QCOMPARE(file["textInterval"], nlohmann::json(15));
        QCOMPARE(file["textLocation"], nlohmann::json((dir + "/out/events.csv").toStdString()));
        QCOMPARE(file["databaseInterval"], nlohmann::json(5));
        QCOMPARE(file["databaseLocation"], nlohmann::json((dir + "/out/events.db").toStdString()));
        // The other keys of the daemon's file came back with the save.
        QCOMPARE(file["actionsEmailPort"], nlohmann::json(25));
        QCOMPARE(file["removalDebug"], nlohmann::json(30));
    }
};

QTEST_MAIN(EndToEndTest)
#include "EndToEnd_test.moc"
