// The Home page's chart and top senders in the real window over a store of
// three days of known events: clicking a bar or a host opens the event list
// on exactly those events, hovering tells the counts, new events grow the
// chart, and the chart is redrawn only a few times a second.
#include <QtTest>

#include <QComboBox>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>
#include <QToolTip>
#include <QTreeWidget>

#include <ctime>

#include "events/ScanView.h"
#include "home/HomeView.h"
#include "testkit/PrivateBus.h"
#include "testkit/StoreDir.h"
#include "WindowController.h"

using namespace brantwell;
using testkit::localSeconds;

namespace {

std::string line(double seconds, const char* priority, const char* host, const std::string& message)
{
    return std::to_string(static_cast<long long>(seconds)) + ',' + priority + ',' + host + ',' + message + '\n';
}

const double kNow = localSeconds(2026, 7, 3, 12, 0, 0);

// 1 July: 5 informational from a, an emergency from b at 23:59:59.
// 2 July: 3 warnings from c at midnight, 10 debug from a.
// 3 July: 2 errors from b at 11:30, 30 notices from c in the last minute.
void writeThreeDays(const testkit::StoreDir& store)
{
    const double day1 = localSeconds(2026, 7, 1), day2 = localSeconds(2026, 7, 2);
    std::string file1, file2, file3;
    for (int i = 0; i < 5; ++i)
        file1 += line(day1 + 3600 * (i + 1), "User.Informational", "a.example", "d1 info " + std::to_string(i));
    file1 += line(day2 - 1, "Kernel.Emergency", "b.example", "d1 emergency");
    for (int i = 0; i < 3; ++i)
        file2 += line(day2, "Daemon.Warning", "c.example", "d2 warning " + std::to_string(i));
    for (int i = 0; i < 10; ++i)
        file2 += line(day2 + 7200 + i, "Local0.Debug", "a.example", "d2 debug " + std::to_string(i));
    file3 += line(kNow - 1800, "Mail.Error", "b.example", "d3 error 0");
    file3 += line(kNow - 1799, "Mail.Error", "b.example", "d3 error 1");
    for (int i = 0; i < 30; ++i)
        file3 += line(kNow - 59 + i, "User.Notice", "c.example", "d3 notice " + std::to_string(i));
    store.write("2026-07-01.log", file1);
    store.write("2026-07-02.log", file2);
    store.write("2026-07-03.log", file3);
}

QStringList shownMessages(const ScanView& scan)
{
    QStringList messages;
    const auto* proxy = scan.proxy();
    for (int r = 0; r < proxy->rowCount(); ++r)
        messages << proxy->data(proxy->index(r, EventListModel::MessageColumn)).toString();
    messages.sort();
    return messages;
}

QStringList numbered(const QString& stem, int n)
{
    QStringList list;
    for (int i = 0; i < n; ++i)
        list << stem + QString::number(i);
    list.sort();
    return list;
}

// When each paint of a widget happened, in milliseconds.
class PaintTimes : public QObject {
public:
    PaintTimes() { clock_.start(); }
    std::vector<qint64> times;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            times.push_back(clock_.elapsed());
        return QObject::eventFilter(watched, event);
    }

private:
    QElapsedTimer clock_;
};

} // namespace

class HomeDashboardTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<testkit::PrivateBus> bus_;
    std::unique_ptr<testkit::StoreDir> store_;
    std::unique_ptr<WindowController> window_;
    int n_ = 0;

    HomeView* home() const { return window_->homeView(); }
    EventChart* chart() const { return home()->chart(); }

private Q_SLOTS:
    void init()
    {
        bus_ = std::make_unique<testkit::PrivateBus>();
        QVERIFY(!bus_->address().isEmpty());
        store_ = std::make_unique<testkit::StoreDir>();
        writeThreeDays(*store_);
        window_ = std::make_unique<WindowController>(StartOptions{store_->path(), 514},
                                                     bus_->connect(QStringLiteral("home%1").arg(++n_)));
        home()->chartModel()->setClock([] { return kNow; });
        window_->resize(980, 900);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        home()->setChartSpan(ChartSpan::Month);
        QCOMPARE(chart()->bars().size(), std::size_t{30});
    }
    void cleanup()
    {
        window_.reset();
        store_.reset();
        bus_.reset();
    }

    void clickingADayBarListsThatDaysEvents()
    {
        QTest::mouseClick(chart(), Qt::LeftButton, {}, chart()->barColumn(28).center());
        QCOMPARE(window_->currentPage(), int(WindowController::ScanPage));
        auto* scan = window_->scanView();
        QCOMPARE(shownMessages(*scan), numbered(QStringLiteral("d2 debug "), 10) + numbered(QStringLiteral("d2 warning "), 3));
        auto* limit = scan->findChild<QLabel*>(QStringLiteral("limitLabel"));
        QVERIFY(limit->isVisible());
        QVERIFY2(limit->text().contains(QStringLiteral("Thu 2 Jul 2026 00:00")), qPrintable(limit->text()));

        // The last second of the first day belongs to that day alone.
        window_->Home();
        QTest::mouseClick(chart(), Qt::LeftButton, {}, chart()->barColumn(27).center());
        QCOMPARE(shownMessages(*scan), QStringList{"d1 emergency"} + numbered(QStringLiteral("d1 info "), 5));

        scan->findChild<QPushButton*>(QStringLiteral("showAllButton"))->click();
        QCOMPARE(scan->proxy()->rowCount(), 51);
        QVERIFY(!limit->isVisible());
    }

    void clickingAMinuteBarListsThatMinutesEvents()
    {
        home()->setChartSpan(ChartSpan::Hour);
        QCOMPARE(chart()->bars().size(), std::size_t{60});
        QCOMPARE(chart()->bars()[29].start, kNow - 1800);
        QTest::mouseClick(chart(), Qt::LeftButton, {}, chart()->barColumn(29).center());
        QCOMPARE(window_->currentPage(), int(WindowController::ScanPage));
        QCOMPARE(shownMessages(*window_->scanView()), (QStringList{"d3 error 0", "d3 error 1"}));
        // A search typed before is not silently kept under the span.
        auto* search = window_->scanView()->findChild<QLineEdit*>(QStringLiteral("searchField"));
        search->setText(QStringLiteral("error 1"));
        QTRY_COMPARE(window_->scanView()->proxy()->rowCount(), 1);
        window_->Home();
        QTest::mouseClick(chart(), Qt::LeftButton, {}, chart()->barColumn(58).center());
        QCOMPARE(shownMessages(*window_->scanView()), numbered(QStringLiteral("d3 notice "), 30));
    }

    void clickingATopSenderListsThatHostsEvents()
    {
        auto* senders = home()->findChild<QTreeWidget*>(QStringLiteral("topSenders"));
        QStringList shown;
        for (int i = 0; i < senders->topLevelItemCount(); ++i)
            shown << senders->topLevelItem(i)->text(0) + QLatin1Char(' ') + senders->topLevelItem(i)->text(1);
        QCOMPARE(shown, (QStringList{"c.example 33", "a.example 15", "b.example 3"}));
        const QRect item = senders->visualItemRect(senders->topLevelItem(1));
        QTest::mouseClick(senders->viewport(), Qt::LeftButton, {}, item.center());
        QCOMPARE(window_->currentPage(), int(WindowController::ScanPage));
        QCOMPARE(shownMessages(*window_->scanView()),
                 numbered(QStringLiteral("d1 info "), 5) + numbered(QStringLiteral("d2 debug "), 10));
        QVERIFY(window_->scanView()->proxy()->isSearching());  // "all" means these 15 now

        home()->setChartSpan(ChartSpan::Hour);
        shown.clear();
        for (int i = 0; i < senders->topLevelItemCount(); ++i)
            shown << senders->topLevelItem(i)->text(0) + QLatin1Char(' ') + senders->topLevelItem(i)->text(1);
        QCOMPARE(shown, (QStringList{"c.example 30", "b.example 2"}));
    }

    void hoveringABarTellsItsSpanAndCounts()
    {
        const QString text = chart()->barText(27);
        QCOMPARE(text, QStringLiteral("Wed 1 Jul 2026\n6 events\nSevere: 1\nNormal: 5\nClick to list these events"));
        const QPoint at = chart()->barColumn(27).center();
        QHelpEvent help(QEvent::ToolTip, at, chart()->mapToGlobal(at));
        QApplication::sendEvent(chart(), &help);
        QTRY_COMPARE(QToolTip::text(), text);

        // By severity, every row that has events, the most severe first.
        home()->findChild<QComboBox*>(QStringLiteral("chartStacking"))->setCurrentIndex(1);
        QCOMPARE(chart()->barText(28), QStringLiteral("Thu 2 Jul 2026\n13 events\nWarning: 3\nDebug: 10\nClick to list these events"));
        // The same counts for a screen reader, for every bar with events.
        const QString description = chart()->accessibleDescription();
        QVERIFY2(description.contains(QStringLiteral("51 in all")), qPrintable(description));
        QVERIFY2(description.contains(QStringLiteral("Thu 2 Jul 2026: 13 (warning 3, debug 10)")), qPrintable(description));
        QVERIFY2(description.contains(QStringLiteral("Fri 3 Jul 2026: 32 (error 2, notice 30)")), qPrintable(description));
        QVERIFY(!chart()->accessibleName().isEmpty());
    }

    // Scrolling the page with the wheel over the span box leaves the span
    // as it was and passes the wheel on (to the page, which scrolls; a
    // wheel event sent by a test is not passed on by Qt, so the test sees
    // it left unaccepted).
    void theWheelOverTheSpanBoxLeavesTheSpan()
    {
        window_->resize(820, 540);
        auto* span = home()->findChild<QComboBox*>(QStringLiteral("chartSpan"));
        auto* scroll = home()->findChild<QScrollArea*>(QStringLiteral("homeScroll"));
        QTRY_VERIFY(scroll->verticalScrollBar()->maximum() > 0);
        span->setCurrentIndex(0);
        const int before = span->currentIndex();
        const QPoint at = span->rect().center();
        QWheelEvent wheel(at, span->mapToGlobal(at), {}, QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(span, &wheel);
        QCOMPARE(span->currentIndex(), before);
        QVERIFY(!wheel.isAccepted());
        // Once chosen, the box takes the wheel.
        span->setFocus();
        QWheelEvent again(at, span->mapToGlobal(at), {}, QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(span, &again);
        QCOMPARE(span->currentIndex(), before + 1);
    }

    // Events keep coming every few milliseconds for over a second: the
    // chart shows them all, yet is painted only a few times a second.
    void growsLiveAtAFewRedrawsASecond()
    {
        home()->setChartSpan(ChartSpan::Hour);
        QTRY_COMPARE(chart()->bars()[59].total(), 0);
        PaintTimes paints;
        chart()->installEventFilter(&paints);
        int added = 0;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 1200) {
            std::vector<EventRecord> burst;
            for (int i = 0; i < 20; ++i, ++added)
                burst.push_back({std::to_string(static_cast<long long>(kNow) + 5), "User.Error", "d.example",
                                 "live " + std::to_string(added)});
            window_->events()->addEvents(burst);
            QTest::qWait(5);
        }
        QTRY_COMPARE(chart()->bars()[59].total(), std::int64_t{added});
        chart()->removeEventFilter(&paints);
        QVERIFY(paints.times.size() >= 2);
        // Redraws wait for the chart's timer, not for each batch of events.
        for (std::size_t i = 1; i < paints.times.size(); ++i)
            QVERIFY2(paints.times[i] - paints.times[i - 1] >= 200,
                     qPrintable(QStringLiteral("paints %1 ms apart").arg(paints.times[i] - paints.times[i - 1])));
        QCOMPARE(home()->chartModel()->topSenders(ChartSpan::Hour).front().host, QStringLiteral("d.example"));
    }
};

QTEST_MAIN(HomeDashboardTest)
#include "HomeDashboard_test.moc"
