// The export page, and through it the common form of every editor: what a
// save sends when other writers changed the settings file meanwhile, and
// what the page shows when the daemon refuses the save.
#include <set>

#include <QtTest>

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "editors/ToolsViewExport.h"
#include "testkit/EditorBench.h"

using namespace brantwell;
using nlohmann::json;

Q_DECLARE_METATYPE(json)

class ToolsViewExportTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<testkit::EditorBench> bench_;
    std::unique_ptr<ToolsViewExport> page_;

    ToolsViewExport& open(const json* settings)
    {
        page_ = bench_->open<ToolsViewExport>(settings);
        page_->parentTab = 3;
        return *page_;
    }
    template <typename T>
    T* c(const char* name)
    {
        return testkit::EditorBench::control<T>(*page_, QString::fromLatin1(name));
    }
    json save() { return bench_->save(*page_); }

private Q_SLOTS:
    void init() { bench_ = std::make_unique<testkit::EditorBench>(); }
    void cleanup()
    {
        page_.reset();
        bench_.reset();
    }

    void loadsAnExportOnOnlyWithIntervalAndLocation_data()
    {
        QTest::addColumn<json>("settings");
        QTest::addColumn<bool>("textOn");
        QTest::addColumn<bool>("databaseOn");
        QTest::addColumn<json>("sent");  // after switching the text export on by a click
        QTest::newRow("no file") << json() << false << false
                                 << json{{"textInterval", 5}, {"textLocation", ""},
                                         {"databaseInterval", 0}, {"databaseLocation", ""}};
        QTest::newRow("database interval without location")
            << json{{"databaseInterval", 10}, {"databaseLocation", ""}, {"textInterval", 0}} << false << false
            << json{{"textInterval", 5}, {"textLocation", ""}, {"databaseInterval", 0}, {"databaseLocation", ""}};
        QTest::newRow("location without interval")
            << json{{"textLocation", "/tmp/a.csv"}, {"databaseInterval", 30}, {"databaseLocation", "/tmp/e.db"}}
            << false << true
            << json{{"textInterval", 5}, {"textLocation", ""}, {"databaseInterval", 30},
                    {"databaseLocation", "/tmp/e.db"}};
        QTest::newRow("interval as text") << json{{"databaseInterval", "45"}, {"databaseLocation", "/tmp/e.db"}}
                                          << false << true
                                          << json{{"textInterval", 5}, {"textLocation", ""},
                                                  {"databaseInterval", 45}, {"databaseLocation", "/tmp/e.db"}};
    }
    void loadsAnExportOnOnlyWithIntervalAndLocation()
    {
        QFETCH(json, settings);
        QFETCH(bool, textOn);
        QFETCH(bool, databaseOn);
        QFETCH(json, sent);
        open(settings.is_null() ? nullptr : &settings);
        QCOMPARE(c<QCheckBox>("exportText")->isChecked(), textOn);
        QCOMPARE(c<QCheckBox>("exportDatabase")->isChecked(), databaseOn);
        QCOMPARE(c<QLineEdit>("databaseLocation")->isEnabled(), databaseOn);
        QVERIFY(!c<QPushButton>("saveButton")->isEnabled());
        c<QCheckBox>("exportText")->click();
        QCOMPARE(c<QSpinBox>("textInterval")->value(), 5);
        QVERIFY(c<QLineEdit>("textLocation")->text().isEmpty());
        const json got = save();
        for (const auto& [k, v] : sent.items())
            QVERIFY2(got[k] == v, k.c_str());
    }

    void theTwoExportsNeverTouchEachOther()
    {
        const json settings{{"textInterval", 60}, {"textLocation", "/tmp/events.txt"}};
        open(&settings);
        c<QCheckBox>("exportDatabase")->click();
        c<QCheckBox>("exportDatabase")->click();
        QCOMPARE(c<QSpinBox>("textInterval")->value(), 60);
        QCOMPARE(c<QLineEdit>("textLocation")->text(), QStringLiteral("/tmp/events.txt"));
        c<QCheckBox>("exportDatabase")->click();
        c<QLineEdit>("databaseLocation")->setText("/tmp/x.db");
        c<QCheckBox>("exportText")->click();  // off
        QVERIFY(c<QLineEdit>("textLocation")->text().isEmpty());
        QCOMPARE(c<QSpinBox>("databaseInterval")->value(), 5);
        QCOMPARE(c<QLineEdit>("databaseLocation")->text(), QStringLiteral("/tmp/x.db"));
        const json sent = save();
        QCOMPARE(sent["textInterval"], json(0));
        QCOMPARE(sent["textLocation"], json(""));
        QCOMPARE(sent["databaseInterval"], json(5));
        QCOMPARE(sent["databaseLocation"], json("/tmp/x.db"));
    }

    void browseOffersTheFileTypesAndTakesTheChosenPath()
    {
        open(nullptr);
        c<QCheckBox>("exportDatabase")->click();
        const QString chosen = QString::fromStdString(bench_->store.path()) + "/events";
        QString message;
        QStringList filters;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            message = dialog->findChild<QLabel*>("fileChoiceMessage")->text();
            filters = dialog->nameFilters();
            dialog->selectFile(chosen);
            static_cast<QDialog*>(dialog)->accept();  // as OK does
        });
        c<QPushButton>("databaseBrowse")->click();
        QCOMPARE(message, QStringLiteral("Please select database file location with 'db' extension:"));
        QCOMPARE(filters, QStringList{"Database files (*.db)"});
        QCOMPARE(c<QLineEdit>("databaseLocation")->text(), chosen + ".db");
        QVERIFY(c<QPushButton>("saveButton")->isEnabled());
        QVERIFY(!QFile::exists(chosen + ".db"));  // nothing is created here
    }

    void keepsEveryKeyOthersSavedWhileThePageWasOpen()
    {
        const json first{{"textInterval", 0}, {"hostsDisplay", false}, {"zUnknownKey", {1, 2}}};
        open(&first);
        c<QCheckBox>("exportText")->click();
        c<QLineEdit>("textLocation")->setText("/tmp/e.csv");
        // Meanwhile another page, brantwellctl or a second window saved.
        json later = first;
        later["hostsDisplay"] = true;
        later["actionsArray"] = json::array({{{"Name", "page"}, {"setEvent", {{"Type", "Error"}}}}});
        later["actionsEmailServer"] = "smtp.example.net";
        later["databaseLocation"] = "/tmp/kept.db";
        bench_->store.writeSettings(later);
        const json sent = save();
        QVERIFY(sent.is_object());
        const std::set<std::string> own{"textInterval", "textLocation", "databaseInterval", "databaseLocation"};
        for (const auto& [k, v] : later.items())
            if (!own.count(k))
                QVERIFY2(sent[k] == v, k.c_str());
        QCOMPARE(sent["textInterval"], json(5));
        QCOMPARE(sent["textLocation"], json("/tmp/e.csv"));
        // The database export was off on the page: its location is the page's.
        QCOMPARE(sent["databaseLocation"], json(""));
        for (const auto& [k, v] : sent.items())
            QVERIFY2(later.contains(k) || own.count(k), k.c_str());
    }

    void aRefusedSaveIsToldOnThePageAndKeepsTheEdits()
    {
        bench_->peer->refuse = true;
        open(nullptr);
        c<QCheckBox>("exportText")->click();
        QSignalSpy closed(page_.get(), &EditorPage::closeRequested);
        QSignalSpy saved(page_.get(), &EditorPage::saved);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused"));
        c<QPushButton>("saveButton")->click();
        auto* message = c<QLabel>("saveMessage");
        QTRY_VERIFY(message->text().contains("group brantwell"));
        QVERIFY(message->text().contains("not saved"));
        QCOMPARE(closed.count(), 0);
        QCOMPARE(saved.count(), 0);
        QVERIFY(c<QCheckBox>("exportText")->isChecked());
        QVERIFY(c<QPushButton>("saveButton")->isEnabled());
        // Taken on the next try; the message goes.
        bench_->peer->refuse = false;
        QCOMPARE(save()["textInterval"], json(5));
        QVERIFY(message->text().isEmpty());
    }

    void aSaveWithoutTheDaemonIsToldAsWell()
    {
        bench_->peer.reset();  // nobody owns the daemon's name
        open(nullptr);
        c<QCheckBox>("exportDatabase")->click();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not running"));
        c<QPushButton>("saveButton")->click();
        QTRY_VERIFY(c<QLabel>("saveMessage")->text().contains("not running"));
        QVERIFY(page_->isVisible());
    }
};

QTEST_MAIN(ToolsViewExportTest)
#include "ToolsViewExport_test.moc"
