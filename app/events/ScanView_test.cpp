// The event list page: deletion through its alerts and the command sent on
// the bus, the search box, export, the details window.
#include <QtTest>

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>

#include <nlohmann/json.hpp>

#include "testkit/Dialogs.h"
#include "testkit/PrivateBus.h"
#include "ScanView.h"
#include "ScanViewEvent.h"
#include "testkit/StoreDir.h"

using namespace brantwell;

namespace {

nlohmann::json eventsOf(const QString& command)
{
    const auto json = nlohmann::json::parse(command.toStdString());
    if (json.value("command", "") != "update")
        return nullptr;
    return json["Events"];
}

} // namespace

class ScanViewTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<testkit::PrivateBus> bus_;
    std::unique_ptr<testkit::BusPeer> peer_;
    std::unique_ptr<EventListModel> model_;
    std::unique_ptr<DaemonLink> link_;
    std::unique_ptr<ScanView> view_;
    int connections_ = 0;

    void select(std::initializer_list<int> rows)
    {
        auto* table = view_->tableView();
        table->clearSelection();
        for (const int r : rows)
            table->selectionModel()->select(table->model()->index(r, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QAbstractButton* buttonOf(QMessageBox* box, QMessageBox::StandardButton which)
    {
        return box->button(which);
    }

private Q_SLOTS:
    void init()
    {
        bus_ = std::make_unique<testkit::PrivateBus>();
        QVERIFY(!bus_->address().isEmpty());
        ++connections_;
        peer_ = std::make_unique<testkit::BusPeer>(bus_->connect(QStringLiteral("peer%1").arg(connections_)));
        QVERIFY(peer_->ok());
        model_ = std::make_unique<EventListModel>();
        link_ = std::make_unique<DaemonLink>(bus_->connect(QStringLiteral("app%1").arg(connections_)));
        view_ = std::make_unique<ScanView>(model_.get(), link_.get(), 514);
        view_->resize(800, 500);
        view_->show();
    }
    void cleanup()
    {
        view_.reset();
        link_.reset();
        model_.reset();
        peer_.reset();
        bus_.reset();
    }

    void countsIdenticalSelectedEventsAsTwo()
    {
        const EventRecord events[] = {{"1772870000", "User.Notice", "10.0.0.1", "same"},
                                      {"1772870000", "User.Notice", "10.0.0.1", "same"},
                                      {"1772870005", "User.Notice", "10.0.0.1", "kept"}};
        model_->addEvents(events);
        select({1, 2});
        testkit::whenMessageBox([](QMessageBox* box) {
            QCOMPARE(box->text(), QStringLiteral("Are you sure you want to delete selected events?"));
            QCOMPARE(box->informativeText(),
                     QStringLiteral("By clicking 'Yes' you will permanently delete selected events."));
            box->button(QMessageBox::Yes)->click();
        });
        view_->deleteEvents();
        QTRY_COMPARE_WITH_TIMEOUT(peer_->commands.size(), 1, 5000);
        const auto sent = eventsOf(peer_->commands[0]);
        QCOMPARE(sent.size(), std::size_t{1});
        QCOMPARE(sent["1772870000,User.Notice,10.0.0.1,same\n"].get<std::string>(), std::string("2"));
        QCOMPARE(model_->rowCount(), 1);
        QVERIFY(!view_->tableView()->selectionModel()->hasSelection());
    }

    void doesNothingWhenTheUserSaysNo()
    {
        const EventRecord e{"1772870000", "User.Notice", "10.0.0.1", "x"};
        model_->addEvents({&e, 1});
        select({0});
        testkit::whenMessageBox([](QMessageBox* box) { box->button(QMessageBox::No)->click(); });
        view_->deleteEvents();
        QTest::qWait(200);
        QCOMPARE(model_->rowCount(), 1);
        QCOMPARE(peer_->commands.size(), 0);
    }

    void deletesNothingWithoutSelectionUnlessAllIsChecked()
    {
        const EventRecord e{"1772870000", "User.Notice", "10.0.0.1", "x"};
        model_->addEvents({&e, 1});
        testkit::whenMessageBox([](QMessageBox* box) {
            QCOMPARE(box->text(), QStringLiteral("No events selected"));
            QCOMPARE(box->checkBox()->text(), QStringLiteral("Delete all events"));
            box->button(QMessageBox::Ok)->click();
        });
        view_->deleteEvents();
        QTest::qWait(200);
        QCOMPARE(model_->rowCount(), 1);
        QCOMPARE(peer_->commands.size(), 0);
    }

    void sendsNoUpdateWhenAllOfAnEmptyListIsDeleted()
    {
        QMessageBox* first = nullptr;
        testkit::whenMessageBox([this, &first](QMessageBox* box) {
            first = box;
            box->checkBox()->setChecked(true);
            testkit::whenMessageBox([](QMessageBox* confirm) {
                QCOMPARE(confirm->text(), QStringLiteral("Are you sure you want to delete all events?"));
                confirm->button(QMessageBox::Yes)->click();
            }, box);
            box->button(QMessageBox::Ok)->click();
        });
        view_->deleteEvents();
        QVERIFY(first);
        QTest::qWait(200);
        QCOMPARE(peer_->commands.size(), 0);
    }

    // No daemon owns the name: Delete and "Delete all" remove nothing from
    // the list, send nothing, and say that the daemon must run.
    void deletesNothingWhileTheDaemonIsStopped()
    {
        const EventRecord events[] = {{"1", "User.Notice", "a", "m1"}, {"2", "Mail.Error", "b", "m2"}};
        model_->addEvents(events);
        peer_.reset();
        QTRY_VERIFY(!link_->daemonRuns());
        for (const bool selectOne : {true, false}) {
            if (selectOne)
                select({0});
            else
                view_->tableView()->clearSelection();
            QString said;
            testkit::whenMessageBox([&said](QMessageBox* box) {
                said = box->text() + QLatin1Char('|') + box->informativeText();
                box->accept();
            });
            view_->deleteEvents();
            QVERIFY2(said.startsWith(QStringLiteral("BrantwellSrv must run to delete events.|Nothing was deleted.")),
                     qPrintable(said));
            QCOMPARE(model_->rowCount(), 2);
            QCOMPARE(model_->count(5), 1);
        }
        testkit::whenMessageBox([](QMessageBox* box) { box->accept(); });
        QVERIFY(view_->deleteChosen(true).empty());
        QCOMPARE(model_->rowCount(), 2);
    }

    void deletesAllShownRowsWhenAllIsChecked()
    {
        const EventRecord events[] = {{"1", "User.Notice", "a", "m1"}, {"2", "User.Notice", "b", "m2"},
                                      {"3", "Mail.Error", "c", "m3"}};
        model_->addEvents(events);
        const auto counts = view_->deleteChosen(true);
        QCOMPARE(counts.size(), std::size_t{3});
        QCOMPARE(model_->rowCount(), 0);
        QCOMPARE(model_->count(5), 0);
        QTRY_COMPARE_WITH_TIMEOUT(peer_->commands.size(), 1, 5000);
        QCOMPARE(eventsOf(peer_->commands[0]).size(), std::size_t{3});
    }

    void filtersRowsFromTheSearchBox()
    {
        const EventRecord events[] = {{"1", "User.Notice", "router", "a"}, {"2", "User.Notice", "switch", "b"}};
        model_->addEvents(events);
        auto* search = view_->findChild<QLineEdit*>(QStringLiteral("searchField"));
        QVERIFY(search);
        QTest::keyClicks(search, "ROUT");
        QTRY_COMPARE_WITH_TIMEOUT(view_->tableView()->model()->rowCount(), 1, 3000);
        search->clear();
        QTRY_COMPARE_WITH_TIMEOUT(view_->tableView()->model()->rowCount(), 2, 3000);
    }

    void sayWhatAllMeansWhileASearchLimitsTheList()
    {
        const EventRecord events[] = {{"1", "User.Notice", "router", "a"}, {"2", "User.Notice", "switch", "b"},
                                      {"3", "User.Notice", "router", "c"}};
        model_->addEvents(events);
        view_->proxy()->setSearchText(QStringLiteral("router"));
        QCOMPARE(view_->tableView()->model()->rowCount(), 2);

        QString exportBox;
        testkit::whenMessageBox([&exportBox](QMessageBox* box) {
            exportBox = box->checkBox()->text();
            box->button(QMessageBox::Ok)->click();
        });
        view_->exportEvents();
        QCOMPARE(exportBox, QStringLiteral("Export the 2 events shown"));

        QString checkBox, question, warning;
        testkit::whenMessageBox([&](QMessageBox* box) {
            checkBox = box->checkBox()->text();
            box->checkBox()->setChecked(true);
            testkit::whenMessageBox([&](QMessageBox* confirm) {
                question = confirm->text();
                warning = confirm->informativeText();
                confirm->button(QMessageBox::Yes)->click();
            }, box);
            box->button(QMessageBox::Ok)->click();
        });
        view_->deleteEvents();
        QCOMPARE(checkBox, QStringLiteral("Delete the 2 events shown"));
        QCOMPARE(question, QStringLiteral("Are you sure you want to delete the 2 events shown?"));
        QCOMPARE(warning, QStringLiteral("By clicking 'Yes' you will permanently delete the 2 events shown."));
        // Only the rows shown went; the other event is still in the list.
        QTRY_COMPARE_WITH_TIMEOUT(peer_->commands.size(), 1, 5000);
        QCOMPARE(eventsOf(peer_->commands[0]).size(), std::size_t{2});
        QCOMPARE(model_->rowCount(), 1);
    }

    void exportsCsvThatReadsBackIntoTheHeadersColumns()
    {
        // The default date format puts a comma in every date.
        model_->setDateFormat("");
        const EventRecord events[] = {{"1772870400", "User.Notice", "h1", "first"},
                                      {"1772870401", "Mail.Error", "h2", "second, with \"quotes\""}};
        model_->addEvents(events);
        testkit::StoreDir dir;
        const QString file = QString::fromStdString(dir.path()) + QStringLiteral("/out.csv");
        QVERIFY(view_->exportChosen(file, true));

        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral("-c"),
                      QStringLiteral("import csv, json, sys; "
                                     "print(json.dumps(list(csv.reader(open(sys.argv[1], newline='')))))"),
                      file});
        QVERIFY(python.waitForFinished(30000));
        const auto rows = nlohmann::json::parse(python.readAllStandardOutput().toStdString(), nullptr, false);
        QVERIFY2(rows.is_array() && rows.size() == 3, dir.read("out.csv").c_str());
        const std::size_t columns = rows[0].size();
        QCOMPARE(rows[0].back().get<std::string>(), std::string("Message"));
        for (const auto& row : rows)
            QCOMPARE(row.size(), columns);
        QCOMPARE(rows[1].back().get<std::string>(), std::string("second, with \"quotes\""));
        QCOMPARE(rows[2].back().get<std::string>(), std::string("first"));
    }

    void exportsTheSelectedRowsWithTabs()
    {
        model_->setDateFormat("HH:mm:ss");
        const EventRecord events[] = {{"1772870400", "User.Notice", "h1", "first"},
                                      {"1772870401", "Mail.Error", "h2", "second, with comma"}};
        model_->addEvents(events);
        select({0});
        testkit::StoreDir dir;
        const QString file = QString::fromStdString(dir.path()) + QStringLiteral("/out.txt");
        QVERIFY(view_->exportChosen(file, false));
        QCOMPARE(QString::fromStdString(dir.read("out.txt")),
                 QStringLiteral("\tDate\tPriority\tHost\tMessage\n\t09:00:01\tMail.Error\th2\tsecond, with comma\n"));
        QVERIFY(!view_->exportChosen(QStringLiteral("/nonexistent/dir/out.csv"), true));
    }

    void opensTheDetailsWindowModalOnTheSelectedRow()
    {
        const EventRecord events[] = {{"1772870000", "User.Notice", "h1", "first"},
                                      {"1772870001", "Mail.Error", "h2", "second"}};
        model_->addEvents(events);
        view_->doubleClickTable();  // no selection: nothing
        QVERIFY(!view_->findChild<ScanViewEvent*>());
        select({1});
        view_->doubleClickTable();
        auto* details = view_->findChild<ScanViewEvent*>();
        QVERIFY(details);
        QCOMPARE(details->windowModality(), Qt::WindowModal);
        QCOMPARE(QString::fromStdString(details->record().message), QStringLiteral("first"));
        details->close();
    }
};

QTEST_MAIN(ScanViewTest)
#include "ScanView_test.moc"
