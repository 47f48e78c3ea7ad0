// The details window's Up and Down: their states and the stepping.
#include <QtTest>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>

#include "EventFilterProxy.h"
#include "ScanViewEvent.h"

using namespace brantwell;

class ScanViewEventTest : public QObject {
    Q_OBJECT
private:
    EventListModel model_;
    EventFilterProxy proxy_{&model_};
    QTableView table_;

    void fill(int rows)
    {
        model_.deleteRows([&] {
            std::vector<int> all(static_cast<std::size_t>(model_.rowCount()));
            std::iota(all.begin(), all.end(), 0);
            return all;
        }());
        std::vector<EventRecord> events;
        for (int i = rows - 1; i >= 0; --i)  // row 0 shows "event 0"
            events.push_back({std::to_string(1772870400 + i), "User.Notice", "h", "event " + std::to_string(i)});
        model_.addEvents(events);
    }
    void select(int row)
    {
        table_.clearSelection();
        if (row >= 0)
            table_.selectionModel()->setCurrentIndex(proxy_.index(row, 0),
                                                     QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    static QPushButton* button(ScanViewEvent& w, const char* name)
    {
        return w.findChild<QPushButton*>(QString::fromLatin1(name));
    }
    static QString message(ScanViewEvent& w)
    {
        return w.findChild<QPlainTextEdit*>(QStringLiteral("eventMessage"))->toPlainText();
    }

private Q_SLOTS:
    void initTestCase()
    {
        table_.setModel(&proxy_);
        table_.setSelectionBehavior(QAbstractItemView::SelectRows);
    }

    void enablesUpAndDownByPosition_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("selected");
        QTest::addColumn<bool>("up");
        QTest::addColumn<bool>("down");
        QTest::newRow("first of several") << 3 << 0 << false << true;
        QTest::newRow("middle") << 3 << 1 << true << true;
        QTest::newRow("last") << 3 << 2 << true << false;
        QTest::newRow("only row") << 1 << 0 << false << false;
    }
    void enablesUpAndDownByPosition()
    {
        QFETCH(int, rows);
        QFETCH(int, selected);
        QFETCH(bool, up);
        QFETCH(bool, down);
        fill(rows);
        select(selected);
        ScanViewEvent details(&table_);
        QCOMPARE(details.windowTitle(), QStringLiteral("Brantwell Event"));
        QCOMPARE(message(details), QStringLiteral("event %1").arg(selected));
        QCOMPARE(button(details, "eventUp")->isEnabled(), up);
        QCOMPARE(button(details, "eventDown")->isEnabled(), down);
    }

    void stepsDownToTheLastRecord()
    {
        fill(3);
        select(1);
        ScanViewEvent details(&table_);
        details.onDown();
        QCOMPARE(message(details), QStringLiteral("event 2"));
        QCOMPARE(table_.selectionModel()->selectedRows().size(), 1);
        QCOMPARE(table_.selectionModel()->selectedRows().first().row(), 2);
        QVERIFY(!button(details, "eventDown")->isEnabled());
        details.onDown();  // beyond the end: nothing
        QCOMPARE(message(details), QStringLiteral("event 2"));
        details.onUp();
        details.onUp();
        QCOMPARE(message(details), QStringLiteral("event 0"));
        QVERIFY(!button(details, "eventUp")->isEnabled());
    }

    void startsFromTheTopWhenTheSelectionIsGone()
    {
        fill(3);
        select(2);
        ScanViewEvent details(&table_);
        table_.clearSelection();
        details.onUp();  // from -1: nothing
        QCOMPARE(message(details), QStringLiteral("event 2"));
        details.onDown();
        QCOMPARE(message(details), QStringLiteral("event 0"));
    }

    void showsTheDateAsTheListShowsIt()
    {
        fill(1);
        model_.setDateFormat("yyyy-MM-dd HH:mm:ss");
        select(0);
        ScanViewEvent details(&table_);
        QCOMPARE(details.findChild<QLabel*>(QStringLiteral("eventDate"))->text(), QStringLiteral("2026-03-07 09:00:00"));
        QCOMPARE(details.findChild<QLabel*>(QStringLiteral("eventPriority"))->text(), QStringLiteral("User.Notice"));
        model_.setDateFormat("");
    }

    void hidesUpAndDownForASingleEvent()
    {
        ScanViewEvent details(EventRecord{"1772870400", "Mail.Error", "h", "alone"}, QStringLiteral("1772870400"));
        details.show();
        QVERIFY(!button(details, "eventUp")->isVisible());
        QVERIFY(!button(details, "eventDown")->isVisible());
        QCOMPARE(details.findChild<QLabel*>(QStringLiteral("eventDate"))->text(), QStringLiteral("1772870400"));
    }
};

QTEST_MAIN(ScanViewEventTest)
#include "ScanViewEvent_test.moc"
