// The main window: pages by index, menus, the start-up pass and the
// announcements of the daemon taken in batches.
#include <QtTest>

#include <QDesktopServices>

#include <QComboBox>
#include <QDialog>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QRadioButton>
#include <QStatusBar>
#include <QTextEdit>
#include <QToolButton>

#include "home/HomeView.h"
#include "editors/ToolsView.h"
#include "testkit/PrivateBus.h"
#include "events/ScanView.h"
#include "popups/PopupThread.h"
#include "testkit/StoreDir.h"
#include "WindowController.h"

using namespace brantwell;

namespace {

QString messageAt(const QAbstractItemModel& m, int row)
{
    return m.data(m.index(row, EventListModel::MessageColumn)).toString();
}

} // namespace

// Takes the URLs the application asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened << url; }
};

class WindowControllerTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<testkit::PrivateBus> bus_;
    int n_ = 0;
    QDBusConnection connection(const char* role)
    {
        return bus_->connect(QStringLiteral("%1%2").arg(QString::fromLatin1(role)).arg(++n_));
    }

private Q_SLOTS:
    void init()
    {
        bus_ = std::make_unique<testkit::PrivateBus>();
        QVERIFY(!bus_->address().isEmpty());
    }
    void cleanup() { bus_.reset(); }

    void keepsThePageIndices()
    {
        testkit::StoreDir store;
        WindowController window({store.path(), 514}, connection("app"));
        window.show();
        auto* pages = window.findChild<QStackedWidget*>(QStringLiteral("pages"));
        const char* names[] = {"homeView", "scanView", "reportsView", "toolsView",
                               "toolsViewOptions", "toolsViewActions", "toolsViewExport", "toolsViewForwarding"};
        QCOMPARE(pages->count(), 8);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(pages->widget(i)->objectName(), QString::fromLatin1(names[i]));
        QCOMPARE(window.currentPage(), 0);
    }

    void switchesPagesFromTheMenuAndShowsAHiddenWindow()
    {
        testkit::StoreDir store;
        WindowController window({store.path(), 514}, connection("app"));
        window.show();
        auto* menu = window.menuBar()->findChild<QMenu*>(QStringLiteral("applicationMenu"));
        QVERIFY(menu);
        QStringList titles;
        for (auto* a : menu->actions())
            if (!a->isSeparator())
                titles << a->text();
        QCOMPARE(titles, (QStringList{"&Home", "&Events", "&Reports", "&Tools", "Brantwell &Help", "&About", "&Quit"}));
        window.hide();
        window.findChild<QAction*>(QStringLiteral("eventsAction"))->trigger();
        QVERIFY(window.isVisible());
        QCOMPARE(window.currentPage(), 1);
        window.findChild<QAction*>(QStringLiteral("toolsAction"))->trigger();
        QCOMPARE(window.currentPage(), 3);
    }

    // Ctrl+1 to Ctrl+4 reach the pages, F1 opens the help page (caught
    // here by a URL handler instead of a viewer), Alt+B opens the menu.
    void reachesThePagesAndTheHelpFromTheKeyboard()
    {
        testkit::StoreDir store;
        WindowController window({store.path(), 514}, connection("app"));
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        for (const auto& [key, page] : {std::pair{Qt::Key_2, 1}, {Qt::Key_3, 2}, {Qt::Key_4, 3}, {Qt::Key_1, 0}}) {
            QTest::keyClick(&window, key, Qt::ControlModifier);
            QCOMPARE(window.currentPage(), page);
        }
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        QTest::keyClick(&window, Qt::Key_F1);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.opened.size(), 1);
        QVERIFY2(catcher.opened[0].toLocalFile().endsWith(QStringLiteral(".html")), qPrintable(catcher.opened[0].toString()));
        QVERIFY(QFile::exists(catcher.opened[0].toLocalFile()));
    }

    void theStatusBarShowsOnlyWhileItHasAMessage()
    {
        testkit::StoreDir store;
        WindowController window({store.path(), 514}, connection("app"));
        window.show();
        QVERIFY(!window.statusBar()->isVisible());
        window.statusBar()->showMessage(QStringLiteral("something"), 100);
        QVERIFY(window.statusBar()->isVisible());
        QTRY_VERIFY(!window.statusBar()->isVisible());
    }

    void returnsFromAnEditorToThePageThatOpenedIt()
    {
        testkit::StoreDir store;
        WindowController window({store.path(), 514}, connection("app"));
        window.show();
        window.Scan();
        window.scanView()->syslogActions();
        QCOMPARE(window.currentPage(), 5);
        window.findChild<QWidget*>(QStringLiteral("toolsViewActions"))
            ->findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
        QCOMPARE(window.currentPage(), 1);
        window.Tools();
        window.findChild<ToolsViewLink*>(QStringLiteral("toolsActions"))->click();
        QCOMPARE(window.currentPage(), 5);
        window.findChild<QWidget*>(QStringLiteral("toolsViewActions"))
            ->findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
        QCOMPARE(window.currentPage(), 3);
        window.Tools();
        window.findChild<ToolsViewLink*>(QStringLiteral("toolsExport"))->click();
        QCOMPARE(window.currentPage(), 6);
        window.findChild<QWidget*>(QStringLiteral("toolsViewExport"))
            ->findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
        QCOMPARE(window.currentPage(), 3);
        window.findChild<ToolsViewLink*>(QStringLiteral("toolsOptions"))->click();
        QCOMPARE(window.currentPage(), 4);
        window.findChild<QWidget*>(QStringLiteral("toolsViewOptions"))
            ->findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
        QCOMPARE(window.currentPage(), 3);
        window.Scan();
        window.scanView()->syslogOptions();
        QCOMPARE(window.currentPage(), 4);
        window.findChild<QWidget*>(QStringLiteral("toolsViewOptions"))
            ->findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
        QCOMPARE(window.currentPage(), 1);
    }

    void offersHelpAndAboutInTheHelpDropDown()
    {
        testkit::StoreDir store;
        WindowController window({store.path(), 514}, connection("app"));
        window.show();
        window.HelpDropDown();
        auto* menu = window.findChild<QMenu*>(QStringLiteral("helpDropDown"));
        QVERIFY(menu);
        QCOMPARE(menu->title(), QStringLiteral("Menu"));
        const auto actions = menu->actions();
        QCOMPARE(actions.size(), 3);
        QCOMPARE(actions[0]->text(), QStringLiteral("Brantwell &Help..."));
        QVERIFY(actions[1]->isSeparator());
        QCOMPARE(actions[2]->text(), QStringLiteral("&About Brantwell..."));
        for (auto* a : actions)
            QVERIFY(a->shortcut().isEmpty());
        menu->close();
    }

    void readsTheStoreAndSettingsAtStart()
    {
        testkit::StoreDir store;
        store.writeSettings({{"severityNotice", 2}, {"dateFormat", "HH:mm:ss"}});
        store.write("2026-03-07.log", "1772870400,User.Notice,10.0.0.1,older\n1772870401,User.Notice,10.0.0.1,newer\n");
        WindowController window({store.path(), 514}, connection("app"));
        window.show();
        QCOMPARE(window.events()->rowCount(), 2);
        QCOMPARE(window.events()->displayDate(0), QStringLiteral("09:00:01"));
        QCOMPARE(window.homeView()->severityStatus(), 2);
        QCOMPARE(window.homeView()->findChild<QLabel*>(QStringLiteral("eventsNotice"))->text(), QStringLiteral("2"));
    }

    void anOptionsSaveTakesEffectInTheListAndOnHomeAtOnce()
    {
        testkit::StoreDir store;
        store.writeSettings({{"dateFormat", "HH:mm:ss"}, {"removalNotice", 30}, {"removalNoticeUnits", 2}});
        store.write("2026-03-07.log", "1772870401,User.Notice,10.0.0.1,newer\n");
        testkit::BusPeer peer(connection("peer"));
        WindowController window({store.path(), 514}, connection("app"));
        window.show();
        QCOMPARE(window.homeView()->severityStatus(), 0);  // Notice is class 0 in this file
        const QVariant imageBefore = window.events()->data(window.events()->index(0, EventListModel::ImageColumn),
                                                           Qt::DecorationRole);
        window.Tools();
        window.findChild<ToolsViewLink*>(QStringLiteral("toolsOptions"))->click();
        auto* page = window.findChild<QWidget*>(QStringLiteral("toolsViewOptions"));
        auto* notice = page->findChild<QComboBox*>(QStringLiteral("severityNotice"));
        notice->setFocus();
        QTest::keyClick(notice, Qt::Key_End);  // the last entry: Severe
        QCOMPARE(notice->currentIndex(), 2);
        page->findChild<QRadioButton*>(QStringLiteral("dateDefined"))->click();
        page->findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(window.currentPage(), 3, 5000);
        QCOMPARE(window.settings().iSeverity[5], 2);
        QCOMPARE(window.settings().newDateFormat, std::string("yyyy-MM-dd HH:mm:ss"));
        QCOMPARE(window.events()->displayDate(0), QStringLiteral("2026-03-07 09:00:01"));
        QCOMPARE(window.events()->displayClassOf(0), 2);
        QVERIFY(window.events()->data(window.events()->index(0, EventListModel::ImageColumn), Qt::DecorationRole)
                != imageBefore);
        window.Home();
        QCOMPARE(window.homeView()->severityStatus(), 2);
    }

    void aRefusedOptionsSaveChangesNothingInTheWindow()
    {
        testkit::StoreDir store;
        testkit::BusPeer peer(connection("peer"));
        peer.refuse = true;
        WindowController window({store.path(), 514}, connection("app"));
        window.show();
        window.Scan();
        window.scanView()->syslogOptions();
        auto* page = window.findChild<QWidget*>(QStringLiteral("toolsViewOptions"));
        page->findChild<QRadioButton*>(QStringLiteral("dateDefined"))->click();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused"));
        page->findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
        auto* message = page->findChild<QLabel*>(QStringLiteral("saveMessage"));
        QTRY_VERIFY_WITH_TIMEOUT(message->text().contains(QLatin1String("not saved")), 5000);
        QCOMPARE(window.currentPage(), 4);
        QCOMPARE(window.settings().newDateFormat, std::string());
    }

    void theAboutWindowShowsVersionNoticeAndHelpLink()
    {
        testkit::StoreDir store;
        WindowController window({store.path(), 514}, connection("app"));
        window.show();
        window.About();
        auto* about = window.findChild<QDialog*>(QStringLiteral("aboutView"));
        QVERIFY(about && about->isVisible());
        QVERIFY(about->isModal());
        QVERIFY(about->findChild<QTextEdit*>(QStringLiteral("infoText"))->toPlainText().contains(
            QStringLiteral(BRANTWELL_VERSION)));
        auto* warning = about->findChild<QTextEdit*>(QStringLiteral("warningText"));
        QTextCursor cursor(warning->document());
        const QString text = warning->toPlainText();
        QVERIFY(text.size() > 8);
        // The first eight characters bold, the rest regular, all in grey 0.33.
        for (int i = 0; i < text.size(); ++i) {
            cursor.setPosition(i);
            cursor.setPosition(i + 1, QTextCursor::KeepAnchor);
            const QTextCharFormat f = cursor.charFormat();
            QVERIFY2(f.font().bold() == (i < 8), qPrintable(QString::number(i)));
            QCOMPARE(f.foreground().color(), QColor::fromRgbF(0.33f, 0.33f, 0.33f, 1.0f));
        }
        auto* link = about->findChild<QLabel*>(QStringLiteral("webLink"));
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QTest::keyClick(about, Qt::Key_Escape);
        QTRY_VERIFY(!window.findChild<QDialog*>(QStringLiteral("aboutView")));
    }

    void followsTheAnnouncementsOfTheDaemon()
    {
        testkit::StoreDir store;
        testkit::BusPeer peer(connection("peer"));
        QVERIFY(peer.ok());
        WindowController window({store.path(), 514}, connection("app"));
        window.show();
        auto* list = window.scanView()->tableView()->model();
        QVERIFY(peer.announce({{Announcement::Type::Set, {"1772870400", "Kernel.Emergency", "10.0.0.7", "fire"}}}));
        QTRY_COMPARE_WITH_TIMEOUT(list->rowCount(), 1, 5000);
        // The Home page is shown: it follows at once.
        QCOMPARE(window.homeView()->severityStatus(), 2);
        QCOMPARE(window.homeView()->findChild<QLabel*>(QStringLiteral("eventsEmergency"))->text(), QStringLiteral("1"));

        window.Scan();
        QVERIFY(peer.announce({{Announcement::Type::Remove, {"1772870400", "Kernel.Emergency", "10.0.0.7", "fire"}}}));
        QTRY_COMPARE_WITH_TIMEOUT(list->rowCount(), 0, 5000);
        window.Home();
        QCOMPARE(window.homeView()->severityStatus(), 0);
    }

    void takesBurstsOfAnnouncementsInBatches()
    {
        testkit::StoreDir store;
        testkit::BusPeer peer(connection("peer"));
        WindowController window({store.path(), 514}, connection("app"));
        window.show();
        window.Scan();
        QSignalSpy inserted(window.events(), &QAbstractItemModel::rowsInserted);
        constexpr int kSignals = 50, kPerSignal = 200;
        for (int s = 0; s < kSignals; ++s) {
            std::vector<Announcement> burst;
            for (int i = 0; i < kPerSignal; ++i)
                burst.push_back({Announcement::Type::Set,
                                 {std::to_string(1772870400 + s * kPerSignal + i), "User.Notice", "h",
                                  "m" + std::to_string(s * kPerSignal + i)}});
            QVERIFY(peer.announce(burst));
        }
        QTRY_COMPARE_WITH_TIMEOUT(window.events()->rowCount(), kSignals * kPerSignal, 10000);
        QVERIFY(inserted.count() < kSignals);
        QCOMPARE(messageAt(*window.events(), 0), QStringLiteral("m%1").arg(kSignals * kPerSignal - 1));
    }

    // Popups are off until the options are saved; then stored events, and
    // only they, raise an alert.
    void alertsForStoredEventsByTheSettingsLastSaved()
    {
        testkit::StoreDir store;
        testkit::BusPeer peer(connection("peer"));
        WindowController window({store.path(), 514}, connection("app"));
        QSignalSpy handled(window.popupThread(), &PopupThread::handled);
        QVERIFY(peer.announce({{Announcement::Type::Set, {"1772870400", "Kernel.Emergency", "h", "before"}}}));
        QTRY_COMPARE_WITH_TIMEOUT(window.events()->rowCount(), 1, 5000);
        QVERIFY(!handled.wait(300));

        AppSettings saved = window.settings();
        saved.iPopupEvents = 5;
        saved.popupDisplayArray = {"Emergency"};
        window.applySettings(saved);
        QVERIFY(peer.announce({{Announcement::Type::Remove, {"1772870400", "Kernel.Emergency", "h", "before"}},
                               {Announcement::Type::Set, {"1772870401", "Kernel.Emergency", "h", "new"}}}));
        QVERIFY(handled.wait(5000));
        QCOMPARE(handled.count(), 1);
        QCOMPARE(handled.at(0).at(0).value<EventRecord>().message, std::string("new"));
        QVERIFY(window.popupThread()->currentPopup());
        QCOMPARE(window.popupThread()->queued(), std::size_t(0));
    }

    void showsInTheStatusBarWhyACommandWasNotSent()
    {
        testkit::StoreDir store;
        WindowController window({store.path(), 514}, connection("app"));
        window.show();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not running"));
        window.link()->setPipe(R"({"command":"update","Events":{}})");
        QTRY_VERIFY_WITH_TIMEOUT(window.statusBar()->currentMessage().contains(QLatin1String("not running")), 5000);
    }
};

QTEST_MAIN(WindowControllerTest)
#include "WindowController_test.moc"
