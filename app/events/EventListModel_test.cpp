// The event list model over the event store: reading the files, the exact
// stored lines of deletions and removals, searching, sorting, export text
// and the size-bounded update commands.
#include <QtTest>

#include <nlohmann/json.hpp>

#include "DeletionCounts.h"
#include "EventExport.h"
#include "EventFilterProxy.h"
#include "EventListModel.h"
#include "EventLogReader.h"
#include "SettingsKeys.h"
#include "testkit/StoreDir.h"

using namespace brantwell;

namespace {

EventRecord ev(const char* date, const char* priority, const char* host, const char* message)
{
    return EventRecord{date, priority, host, message};
}

QString messageAt(const QAbstractItemModel& m, int row)
{
    return m.data(m.index(row, EventListModel::MessageColumn)).toString();
}

} // namespace

class EventListModelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listsTheStoreNewestFirst()
    {
        testkit::StoreDir store;
        store.write("2026-03-08.log", "1772960000,User.Notice,10.0.0.1,third\n"
                                      "1772960001,User.Notice,10.0.0.1,fourth\n");
        store.write("2026-03-07.log", "1772870000,User.Notice,10.0.0.1,first\n"
                                      "1772870001,User.Notice,10.0.0.1,second");  // no final LF
        store.write("2026-03-09.LOG", "1773000000,User.Notice,10.0.0.1,upper case\n");
        store.write("notes.txt", "1773000000,User.Notice,10.0.0.1,other\n");
        EventListModel model;
        QCOMPARE(model.loadStore(store.path()), std::size_t{4});
        QCOMPARE(model.rowCount(), 4);
        QCOMPARE(messageAt(model, 0), QStringLiteral("fourth"));
        QCOMPARE(messageAt(model, 3), QStringLiteral("first"));
        QCOMPARE(model.count(5), 4);
    }

    void keepsTheSplittingRuleOfTheStore()
    {
        testkit::StoreDir store;
        store.write("2026-03-07.log",
                    "1772870000,User.Notice,10.0.0.1,,x\n"      // message ",x"
                    "1772870001,User.Notice,,message\n"         // empty host: three fields
                    "1772870002,User.Notice,10.0.0.1,\n"        // empty message
                    "1772870003,User.Notice,10.0.0.1,a,b,c\r\n"
                    "\n");
        EventListModel model;
        model.loadStore(store.path());
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(messageAt(model, 0), QStringLiteral("a,b,c"));
        QCOMPARE(messageAt(model, 1), QString());
        QCOMPARE(QString::fromStdString(model.storedLine(1)),
                 QStringLiteral("1772870002,User.Notice,10.0.0.1,\n"));
        QCOMPARE(messageAt(model, 2), QStringLiteral(",x"));
        QCOMPARE(QString::fromStdString(model.storedLine(2)),
                 QStringLiteral("1772870000,User.Notice,10.0.0.1,,x\n"));
    }

    void readsLinesLongerThanAReadBlock()
    {
        testkit::StoreDir store;
        const std::string longMessage(3 << 20, 'm');
        store.write("2026-03-07.log", "1772870000,User.Notice,h," + longMessage + "\n1772870001,User.Notice,h,short\n");
        EventListModel model;
        model.loadStore(store.path());
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.record(1).message.size(), longMessage.size());
    }

    void deletesTheExactStoredLineWhateverTheDateFormat()
    {
        EventListModel model;
        model.setDateFormat("yyyy-MM-dd HH:mm");  // no seconds shown
        const EventRecord events[] = {ev("1772870001", "Mail.Error", "10.0.0.2", "other"),
                                      ev("1772870519", "User.Notice", "10.0.0.1", "a, b"),
                                      ev("1772870519", "User.Notice", "10.0.0.1", "a, b")};
        model.addEvents(events);
        QCOMPARE(model.displayDate(0), QStringLiteral("2026-03-07 09:01"));
        const auto counts = model.deleteRows({0, 1, 0});
        QCOMPARE(counts.size(), std::size_t{1});
        QCOMPARE(counts.begin()->first, std::string("1772870519,User.Notice,10.0.0.1,a, b\n"));
        QCOMPARE(counts.begin()->second, 2);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.count(5), 0);
        QCOMPARE(model.count(3), 1);
    }

    void removesOneRowPerAgedOutEvent()
    {
        EventListModel model;
        model.setDateFormat("HH:mm");
        const EventRecord events[] = {ev("100", "User.Notice", "h", "old"),
                                      ev("100", "User.Notice", "h", "old"),
                                      ev("200", "User.Notice", "h", "new")};
        model.addEvents(events);
        const EventRecord gone[] = {ev("100", "User.Notice", "h", "old"),
                                    ev("300", "User.Notice", "h", "never listed")};
        QCOMPARE(model.removeEvents(gone), std::size_t{1});
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(messageAt(model, 0), QStringLiteral("new"));
        QCOMPARE(messageAt(model, 1), QStringLiteral("old"));
        QCOMPARE(model.count(5), 2);
    }

    void removesScatteredRowsInOneReset()
    {
        EventListModel model;
        std::vector<EventRecord> events;
        for (int i = 0; i < 1000; ++i)
            events.push_back(EventRecord{std::to_string(1000 + i), "User.Notice", "h", std::to_string(i)});
        model.addEvents(events);
        std::vector<int> every3rd;
        for (int r = 0; r < 1000; r += 3)
            every3rd.push_back(r);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        const auto counts = model.deleteRows(every3rd);
        QCOMPARE(counts.size(), every3rd.size());
        QCOMPARE(reset.count(), 1);
        QCOMPARE(model.rowCount(), 1000 - static_cast<int>(every3rd.size()));
        QCOMPARE(messageAt(model, 0), QStringLiteral("998"));  // 999 was display row 0
        QCOMPARE(model.count(5), model.rowCount());
    }

    void showsADateThatIsNotANumberAsStored()
    {
        EventListModel model;
        const EventRecord e = ev("yesterday", "User.Notice", "h", "m");
        model.addEvents({&e, 1});
        QCOMPARE(model.displayDate(0), QStringLiteral("yesterday"));
        QCOMPARE(QString::fromStdString(model.storedLine(0)), QStringLiteral("yesterday,User.Notice,h,m\n"));
    }

    void searchesHostPriorityAndMessageIgnoringCase()
    {
        EventListModel model;
        const EventRecord events[] = {ev("1", "Mail.Error", "router", "link down"),
                                      ev("2", "User.Notice", "switch-7", "port up"),
                                      ev("3", "Kernel.Warning", "db", "Router lost")};
        model.addEvents(events);
        EventFilterProxy proxy(&model);
        proxy.setSearchText(QStringLiteral("ROUTER"));
        QCOMPARE(proxy.rowCount(), 2);
        proxy.setSearchText(QStringLiteral("mail.err"));
        QCOMPARE(proxy.rowCount(), 1);
        proxy.setSearchText(QStringLiteral("nothing"));
        QCOMPARE(proxy.rowCount(), 0);
        proxy.setSearchText({});
        QCOMPARE(proxy.rowCount(), 3);
    }

    void sortsDatesByTheirSeconds()
    {
        EventListModel model;
        model.setDateFormat("d MMM");  // text order differs from time order
        const EventRecord events[] = {ev("1772870000", "User.Notice", "h", "7 Mar"),
                                      ev("1765000000", "User.Notice", "h", "6 Dec"),
                                      ev("1775000000", "User.Notice", "h", "1 Apr")};
        model.addEvents(events);
        EventFilterProxy proxy(&model);
        proxy.sort(EventListModel::DateColumn, Qt::AscendingOrder);
        QCOMPARE(messageAt(proxy, 0), QStringLiteral("6 Dec"));
        QCOMPARE(messageAt(proxy, 1), QStringLiteral("7 Mar"));
        QCOMPARE(messageAt(proxy, 2), QStringLiteral("1 Apr"));
    }

    // A sorted list stays sorted while events arrive, leave and change
    // class: the cached sort keys must follow every change of the rows.
    void keepsTheSortThroughInsertsRemovalsAndClassChanges()
    {
        EventListModel model;
        const EventRecord first[] = {ev("1772870000", "User.Notice", "m-host", "a"),
                                     ev("1772870001", "User.Error", "c-host", "b"),
                                     ev("1772870002", "User.Notice", "k-host", "c")};
        model.addEvents(first);
        EventFilterProxy proxy(&model);
        const auto column = [&proxy](int c) {
            QStringList out;
            for (int row = 0; row < proxy.rowCount(); ++row)
                out << proxy.data(proxy.index(row, c)).toString();
            return out;
        };
        proxy.sort(EventListModel::HostColumn, Qt::AscendingOrder);
        QCOMPARE(column(EventListModel::HostColumn), (QStringList{"c-host", "k-host", "m-host"}));

        // New hosts sort among the old ones, also one before all others.
        const EventRecord more[] = {ev("1772870003", "User.Notice", "a-host", "d"),
                                    ev("1772870004", "User.Notice", "l-host", "e")};
        model.addEvents(more);
        QCOMPARE(column(EventListModel::HostColumn),
                 (QStringList{"a-host", "c-host", "k-host", "l-host", "m-host"}));

        // Two rows gone, then two new ones: as many rows as before, but the
        // keys of the rest have moved.
        const EventRecord gone[] = {first[1], more[0]};
        QCOMPARE(model.removeEvents(gone), std::size_t{2});
        const EventRecord last[] = {ev("1772870005", "User.Notice", "b-host", "f"),
                                    ev("1772870006", "User.Notice", "z-host", "g")};
        model.addEvents(last);
        QCOMPARE(column(EventListModel::HostColumn),
                 (QStringList{"b-host", "k-host", "l-host", "m-host", "z-host"}));
        QCOMPARE(column(EventListModel::MessageColumn), (QStringList{"f", "c", "e", "a", "g"}));

        // By display class: Error (class 1 by default) after Notice (1)
        // only by severity; made class 0, it goes first.
        model.addEvents({&first[1], 1});
        proxy.sort(EventListModel::ImageColumn, Qt::AscendingOrder);
        QCOMPARE(column(EventListModel::PriorityColumn).first(), QStringLiteral("User.Notice"));
        auto classes = kDefaultSeverityClasses;
        classes[3] = 0;  // Error
        std::array<std::int64_t, kSeverityRows> changed{};
        std::copy(classes.begin(), classes.end(), changed.begin());
        model.setDisplayClasses(changed);
        proxy.sort(EventListModel::ImageColumn, Qt::AscendingOrder);
        QCOMPARE(column(EventListModel::PriorityColumn).first(), QStringLiteral("User.Error"));
    }

    void exportsCellTextsQuotedOnlyWhereCsvNeedsIt()
    {
        EventListModel model;
        model.setDateFormat("yyyy-MM-dd HH:mm:ss");
        const EventRecord events[] = {ev("1772870400", "User.Notice", "10.0.0.1", "a,b,c"),
                                      ev("1772870401", "User.Notice", "10.0.0.1", "say \"hi\"")};
        model.addEvents(events);
        EventFilterProxy proxy(&model);
        QCOMPARE(exportText(proxy, {0, 1}, exportSeparatorFor(QStringLiteral("out.CSV"))),
                 QStringLiteral(",Date,Priority,Host,Message\n"
                                ",2026-03-07 09:00:01,User.Notice,10.0.0.1,\"say \"\"hi\"\"\"\n"
                                ",2026-03-07 09:00:00,User.Notice,10.0.0.1,\"a,b,c\"\n"));
        // A TAB file is written as it always was.
        QCOMPARE(exportSeparatorFor(QStringLiteral("out.txt")), QLatin1Char('\t'));
        QCOMPARE(exportText(proxy, {1}, QLatin1Char('\t')),
                 QStringLiteral("\tDate\tPriority\tHost\tMessage\n\t2026-03-07 09:00:00\tUser.Notice\t10.0.0.1\ta,b,c\n"));
    }

    void sendsNoUpdateForNoLines()
    {
        QVERIFY(updateCommands({}).empty());
    }

    void splitsALargeUpdateIntoBoundedCommands()
    {
        DeletionCounts counts;
        for (int i = 0; i < 5000; ++i)
            counts["17728" + std::to_string(70000 + i) + ",User.Notice,10.0.0.1,message \"" + std::to_string(i) + "\"\n"] = i % 3 + 1;
        constexpr std::size_t kLimit = 16 * 1024;
        const auto commands = updateCommands(counts, kLimit);
        QVERIFY(commands.size() > 10);
        DeletionCounts seen;
        for (const auto& text : commands) {
            QVERIFY(text.size() <= kLimit);
            const auto json = nlohmann::json::parse(text);
            QCOMPARE(QString::fromStdString(json["command"].get<std::string>()), QStringLiteral("update"));
            for (const auto& [line, count] : json["Events"].items()) {
                QVERIFY(!seen.count(line));  // each line whole in one command
                seen[line] = std::stoll(count.get<std::string>());
            }
        }
        QVERIFY(seen == counts);
    }

    void sendsALineLongerThanTheLimitAlone()
    {
        DeletionCounts counts{{std::string(400, 'x') + "\n", 1}, {"short\n", 2}};
        const auto commands = updateCommands(counts, 100);
        QCOMPARE(commands.size(), std::size_t{2});
    }
};

QTEST_MAIN(EventListModelTest)
#include "EventListModel_test.moc"
