// The sorted and searched view of the event list against a plain reference:
// after every batch of new events and every removal, in every sort order and
// with and without a search, the rows shown are the list's rows filtered and
// stably sorted (equal keys newest first), and the selected row is still the
// same event.
#include <QtTest>

#include <algorithm>
#include <random>

#include <QItemSelectionModel>
#include <QTableView>

#include "EventFilterProxy.h"
#include "EventListModel.h"

using namespace brantwell;

namespace {

struct Case {
    int column;
    Qt::SortOrder order;
    const char* search;
};

// The rows a view must show, computed from the list's own display order.
QStringList expectedMessages(const EventListModel& model, const Case& c)
{
    std::vector<int> rows;
    const QString needle = QString::fromLatin1(c.search).toLower();
    for (int row = 0; row < model.rowCount(); ++row) {
        const auto r = model.record(row);
        const QString text = QString::fromStdString(r.host + "\n" + r.priority + "\n" + r.message).toLower();
        if (needle.isEmpty() || text.contains(needle))
            rows.push_back(row);
    }
    if (c.column >= 0) {
        const auto key = [&](int row) {
            const auto r = model.record(row);
            switch (c.column) {
            case EventListModel::DateColumn: return QString::number(std::stoll(r.date)).rightJustified(12, QLatin1Char('0'));
            case EventListModel::PriorityColumn: return QString::fromStdString(r.priority);
            case EventListModel::HostColumn: return QString::fromStdString(r.host);
            default: return QString::fromStdString(r.message);
            }
        };
        std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) {
            return c.order == Qt::AscendingOrder ? key(a) < key(b) : key(b) < key(a);
        });
    }
    QStringList out;
    for (const int row : rows)
        out << QString::fromStdString(model.record(row).message);
    return out;
}

QStringList shownMessages(const QAbstractItemModel& proxy)
{
    QStringList out;
    for (int row = 0; row < proxy.rowCount(); ++row)
        out << proxy.data(proxy.index(row, EventListModel::MessageColumn)).toString();
    return out;
}

} // namespace

class EventFilterProxyTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void followsBatchesAndRemovalsInEveryOrderWithAndWithoutASearch()
    {
        const Case cases[] = {
            {-1, Qt::DescendingOrder, ""},
            {-1, Qt::DescendingOrder, "x7"},
            {EventListModel::DateColumn, Qt::AscendingOrder, ""},
            {EventListModel::DateColumn, Qt::DescendingOrder, ""},
            {EventListModel::DateColumn, Qt::DescendingOrder, "x7"},
            {EventListModel::PriorityColumn, Qt::AscendingOrder, ""},
            {EventListModel::HostColumn, Qt::AscendingOrder, ""},
            {EventListModel::HostColumn, Qt::DescendingOrder, "X7"},
            {EventListModel::MessageColumn, Qt::AscendingOrder, ""},
            {EventListModel::MessageColumn, Qt::DescendingOrder, "x7"},
        };
        const char* priorities[] = {"User.Notice", "Mail.Error", "Kernel.Warning", "Local4.Debug"};
        for (const auto& c : cases) {
            const QByteArray name = QByteArray("column ") + QByteArray::number(c.column) + " order "
                                    + QByteArray::number(c.order) + " search \"" + c.search + "\"";
            std::mt19937 random(7);
            int next = 0;
            // Few dates and hosts, so that many rows share a key.
            const auto batch = [&](int n) {
                std::vector<EventRecord> events;
                for (int i = 0; i < n; ++i, ++next)
                    events.push_back({std::to_string(1772870000 + random() % 40), priorities[random() % 4],
                                      "10.0.0." + std::to_string(random() % 12),
                                      "m" + std::to_string(100000 + next) + (random() % 3 == 0 ? " x7" : "")});
                return events;
            };
            EventListModel model;
            model.addEvents(batch(400));
            EventFilterProxy proxy(&model);
            QTableView view;  // a real view follows the changes as the window's does
            view.setModel(&proxy);
            proxy.sort(c.column, c.order);
            proxy.setSearchText(QString::fromLatin1(c.search));
            QCOMPARE(shownMessages(proxy), expectedMessages(model, c));

            // The selected event stays selected wherever it moves: one of
            // the newer ones, which the removals below leave.
            QModelIndex chosenIndex;
            for (int row = 50; !chosenIndex.isValid(); ++row)
                chosenIndex = proxy.mapFromSource(model.index(row, EventListModel::MessageColumn));
            const QString chosen = chosenIndex.data().toString();
            view.selectionModel()->setCurrentIndex(chosenIndex, QItemSelectionModel::ClearAndSelect);
            const auto stillChosen = [&] {
                const QModelIndex current = view.selectionModel()->currentIndex();
                return current.isValid() && current.data().toString() == chosen;
            };

            for (int round = 0; round < 4; ++round) {
                const auto events = batch(round == 0 ? 1 : 150);
                model.addEvents(events);
                QVERIFY2(shownMessages(proxy) == expectedMessages(model, c), name + " after a batch");
                QVERIFY2(stillChosen(), name + " after a batch");
            }
            // The oldest ten aged out (one run), then some scattered ones
            // (one removal per run), then many scattered ones (one reset).
            std::vector<EventRecord> oldest;
            for (int i = 0; i < 10; ++i)
                oldest.push_back(model.record(model.rowCount() - 1 - i));
            QCOMPARE(model.removeEvents(oldest), oldest.size());
            QVERIFY2(shownMessages(proxy) == expectedMessages(model, c), name + " after the oldest left");
            QVERIFY2(stillChosen(), name + " after the oldest left");
            std::vector<EventRecord> scattered;
            for (int row = 3; row < model.rowCount(); row += model.rowCount() / 9)
                if (model.record(row).message != chosen.toStdString())
                    scattered.push_back(model.record(row));
            QCOMPARE(model.removeEvents(scattered), scattered.size());
            QVERIFY2(shownMessages(proxy) == expectedMessages(model, c), name + " after scattered removals");
            QVERIFY2(stillChosen(), name + " after scattered removals");
            std::vector<int> many;
            for (int row = 0; row < model.rowCount(); row += 3)
                many.push_back(row);
            model.deleteRows(many);
            QVERIFY2(shownMessages(proxy) == expectedMessages(model, c), name + " after a deletion of many");
            model.addEvents(batch(50));
            QVERIFY2(shownMessages(proxy) == expectedMessages(model, c), name + " after the last batch");
        }
    }

    // Back to the unsorted list: the newest event on top again.
    void clearingTheSortShowsTheNewestFirst()
    {
        EventListModel model;
        const EventRecord events[] = {{"3", "User.Notice", "b", "old"}, {"1", "User.Notice", "a", "new"}};
        model.addEvents(events);
        EventFilterProxy proxy(&model);
        proxy.sort(EventListModel::DateColumn, Qt::AscendingOrder);
        QCOMPARE(shownMessages(proxy), (QStringList{"new", "old"}));
        proxy.sort(-1, Qt::DescendingOrder);
        QCOMPARE(shownMessages(proxy), (QStringList{"new", "old"}));
        const EventRecord later[] = {{"2", "User.Notice", "c", "newest"}};
        model.addEvents(later);
        QCOMPARE(shownMessages(proxy), (QStringList{"newest", "new", "old"}));
        QCOMPARE(proxy.mapFromSource(model.index(0, 0)).row(), 0);
        QCOMPARE(proxy.mapToSource(proxy.index(2, 0)).row(), 2);
    }
};

QTEST_MAIN(EventFilterProxyTest)
#include "EventFilterProxy_test.moc"
