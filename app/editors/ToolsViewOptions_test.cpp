// The options page and its filter editor, driven by object name under the
// offscreen platform, loading real settings files and saving through a peer
// that takes the "save" command on a private bus.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QWheelEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>

#include "editors/ToolsViewFilter.h"
#include "editors/ToolsViewOptions.h"
#include "testkit/Dialogs.h"
#include "testkit/EditorBench.h"

using namespace brantwell;
using nlohmann::json;

Q_DECLARE_METATYPE(json)

namespace {

const char* const kStems[] = {"Emergency", "Alerting", "Critical", "Error", "Warning",
                              "Notice", "Information", "Debug", "Unknown"};
const json kNineNames = {"Emergency", "Alert", "Critical", "Error", "Warning",
                         "Notice", "Information", "Debug", "Unknown"};

template <typename T>
T* child(QWidget& w, const QString& name)
{
    return testkit::EditorBench::control<T>(w, name);
}

json filter(const char* name, const char* message)
{
    return {{"Name", name}, {"IP", "0.0.0.0"}, {"Mask", "0"}, {"Facility", "*"},
            {"Severity", "*"}, {"Message", message}};
}

} // namespace

class ToolsViewOptionsTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<testkit::EditorBench> bench_;
    std::unique_ptr<ToolsViewOptions> page_;

    ToolsViewOptions& open(const json* settings)
    {
        page_ = bench_->open<ToolsViewOptions>(settings);
        return *page_;
    }
    template <typename T>
    T* c(const QString& name) { return child<T>(*page_, name); }
    QCheckBox* box(const QString& name) { return c<QCheckBox>(name); }
    json save() { return bench_->save(*page_); }

private Q_SLOTS:
    void init() { bench_ = std::make_unique<testkit::EditorBench>(); }
    void cleanup()
    {
        page_.reset();
        bench_.reset();
    }

    // The wheel scrolls the form; it changes a field only once the user
    // has put the focus there.
    void theWheelPassingOverAFieldLeavesItAlone()
    {
        open(nullptr);
        auto* age = c<QSpinBox>("removalAlertingAge");
        auto* units = c<QComboBox>("removalAlertingUnits");
        const auto turn = [&](QWidget* w) {
            QWheelEvent wheel(QPointF(w->rect().center()), QPointF(w->mapToGlobal(w->rect().center())), QPoint(),
                              QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(w, &wheel);
        };
        turn(age);
        turn(units);
        QCOMPARE(age->value(), 30);
        QCOMPARE(units->currentIndex(), 2);
        QVERIFY(!c<QPushButton>("saveButton")->isEnabled());
        age->setFocus();
        QVERIFY(QTest::qWaitFor([&] { return age->hasFocus(); }));
        turn(age);
        QCOMPARE(age->value(), 29);
    }

    void withoutASettingsFileShowsTheDefaultsAndSendsOnlyItsKeys()
    {
        auto& page = open(nullptr);
        QVERIFY(c<QRadioButton>("hostsByAddress")->isChecked());
        QVERIFY(c<QRadioButton>("dateLocale")->isChecked());
        QVERIFY(!c<QComboBox>("datePattern")->isEnabled());
        QVERIFY(!c<QPushButton>("saveButton")->isEnabled());
        const int classes[] = {2, 2, 2, 1, 1, 1, 0, 0, 0};
        for (int i = 0; i < 9; ++i) {
            const QString stem = QString::fromLatin1(kStems[i]);
            QCOMPARE(c<QComboBox>("severity" + stem)->currentIndex(), classes[i]);
            QVERIFY(box("removal" + stem)->isChecked());
            QCOMPARE(c<QSpinBox>("removal" + stem + "Age")->value(), 30);
            QCOMPARE(c<QComboBox>("removal" + stem + "Units")->currentIndex(), 2);
        }
        QVERIFY(!box("popupEvents")->isChecked());
        QVERIFY(!box("popupSound")->isChecked());
        c<QRadioButton>("hostsByName")->click();
        QVERIFY(c<QPushButton>("saveButton")->isEnabled());
        const json sent = save();
        QCOMPARE(sent.size(), std::size_t{35});  // this page's keys and no other
        QCOMPARE(sent["hostsDisplay"], json(true));
        QCOMPARE(sent["removalDebug"], json(30));
        QCOMPARE(sent["removalDebugUnits"], json(2));
        QCOMPARE(sent["severityEmergency"], json(2));
        QCOMPARE(sent["popupEvents"], json(0));
        QCOMPARE(sent["popupSound"], json(""));
        QCOMPARE(sent["includeFiltersArray"], json::array());
        Q_UNUSED(page);
    }

    void aMissingKeyReadsAsZero()
    {
        // A file with the Debug age but no unit: minutes. Rows without an age are off.
        const json settings{{"removalDebug", 5}, {"dateFormat", ""}};
        open(&settings);
        QVERIFY(box("removalDebug")->isChecked());
        QCOMPARE(c<QSpinBox>("removalDebugAge")->value(), 5);
        QCOMPARE(c<QComboBox>("removalDebugUnits")->currentIndex(), 0);
        QVERIFY(!box("removalError")->isChecked());
        QVERIFY(!c<QSpinBox>("removalErrorAge")->isEnabled());
        QCOMPARE(c<QComboBox>("severityEmergency")->currentIndex(), 0);  // not the default 2
        c<QRadioButton>("hostsByAddress")->click();
        const json sent = save();
        QCOMPARE(sent["removalError"], json(0));
        QCOMPARE(sent["removalErrorUnits"], json(-1));
        QCOMPARE(sent["removalDebugUnits"], json(0));
    }

    void removalRowsFollowTheirBox()
    {
        const json settings{{"removalWarning", 12}, {"removalWarningUnits", 1}};
        open(&settings);
        auto* row = box("removalWarning");
        QVERIFY(row->isChecked());
        row->click();  // off
        QVERIFY(!c<QSpinBox>("removalWarningAge")->isEnabled());
        QVERIFY(c<QSpinBox>("removalWarningAge")->text().trimmed().isEmpty());
        QCOMPARE(c<QComboBox>("removalWarningUnits")->currentIndex(), -1);
        row->click();  // on again: one minute, whatever was stored
        QCOMPARE(c<QSpinBox>("removalWarningAge")->value(), 1);
        QCOMPARE(c<QComboBox>("removalWarningUnits")->currentIndex(), 0);
        box("removalNotice")->click();  // was off: on at one minute
        json sent = save();
        QCOMPARE(sent["removalWarning"], json(1));
        QCOMPARE(sent["removalWarningUnits"], json(0));
        QCOMPARE(sent["removalNotice"], json(1));
        QCOMPARE(sent["removalNoticeUnits"], json(0));
        QCOMPARE(sent["removalCritical"], json(0));
        QCOMPARE(sent["removalCriticalUnits"], json(-1));
    }

    void popupsOffAndOnByClicksGiveTheNineNamesOnce()
    {
        const json settings{{"popupEvents", 30}, {"popupDisplayArray", {"Error", "Debug"}},
                            {"popupSound", "/tmp/ding.wav"}, {"popupPlayArray", {"Emergency"}}};
        open(&settings);
        QVERIFY(box("popupEvents")->isChecked());
        QCOMPARE(c<QSpinBox>("popupTimeout")->value(), 30);
        QVERIFY(box("popupDisplayError")->isChecked());
        QVERIFY(!box("popupDisplayAlerting")->isChecked());
        QCOMPARE(c<QLineEdit>("popupSoundFile")->text(), QStringLiteral("/tmp/ding.wav"));
        box("popupEvents")->click();
        QVERIFY(!box("popupDisplayError")->isChecked());
        QVERIFY(!box("popupDisplayError")->isEnabled());
        box("popupEvents")->click();
        QCOMPARE(c<QSpinBox>("popupTimeout")->value(), 10);
        box("popupDisplayNotice")->click();  // off and on: once, at the end
        box("popupDisplayNotice")->click();
        // The sound file is not there: said before saving, saved anyway.
        QString warned;
        testkit::whenMessageBox([&warned](QMessageBox* b) {
            warned = b->informativeText();
            for (auto* button : b->buttons())
                if (b->buttonRole(button) == QMessageBox::AcceptRole)
                    button->click();
        });
        json sent = save();
        QCOMPARE(warned, QStringLiteral("The sound file \"/tmp/ding.wav\" does not exist. No sound will play."));
        json expected = kNineNames;
        expected.erase(5);
        expected.push_back("Notice");
        QCOMPARE(sent["popupDisplayArray"], expected);
        QCOMPARE(sent["popupEvents"], json(10));
        QCOMPARE(sent["popupPlayArray"], json({"Emergency"}));
        QCOMPARE(sent["popupSound"], json("/tmp/ding.wav"));
    }

    void soundOffIsSavedEmptyAndLoadsOff()
    {
        const json settings{{"popupSound", "/tmp/ding.oga"}, {"popupPlayArray", {"Alert"}}};
        open(&settings);
        QVERIFY(box("popupSound")->isChecked());
        QVERIFY(box("popupPlayAlerting")->isChecked());
        box("popupSound")->click();
        QVERIFY(!c<QPushButton>("popupSoundBrowse")->isEnabled());
        json sent = save();
        QCOMPARE(sent["popupSound"], json(""));
        QCOMPARE(sent["popupPlayArray"], json::array());
        // What the daemon would now hold, shown again.
        bench_->store.writeSettings(sent);
        page_->hide();
        page_->show();
        QVERIFY(!box("popupSound")->isChecked());
        QVERIFY(c<QLineEdit>("popupSoundFile")->text().isEmpty());
        // Sound on by a click: all nine rows, no file chosen for the user.
        box("popupSound")->click();
        sent = save();
        QCOMPARE(sent["popupPlayArray"], kNineNames);
        QCOMPARE(sent["popupSound"], json(""));
    }

    void soundBrowseOffersThePlayableTypes()
    {
        const json settings{{"popupSound", "/tmp/old.wav"}};
        open(&settings);
        QString message;
        QStringList filters;
        QString directory;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            message = dialog->findChild<QLabel*>("fileChoiceMessage")->text();
            filters = dialog->nameFilters();
            directory = dialog->directory().path();
            dialog->reject();
        });
        c<QPushButton>("popupSoundBrowse")->click();
        QCOMPARE(message, QStringLiteral("Please select sound file name with 'wav' or 'oga' extension:"));
        QCOMPARE(filters, QStringList{"Sounds (*.wav *.oga)"});
        QCOMPARE(directory, QStringLiteral("/tmp"));  // where the current sound is
        // Cancel changes nothing.
        QCOMPARE(c<QLineEdit>("popupSoundFile")->text(), QStringLiteral("/tmp/old.wav"));
        QVERIFY(!c<QPushButton>("saveButton")->isEnabled());
    }

    void storedDateFormatsSelectTheirEntries_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("saved");
        QTest::newRow("12-hour") << "dd.MM.yyyy h:mm:ss AM/PM" << "dd.MM.yyyy" << "h:mm:ss AM/PM"
                                 << "dd.MM.yyyy h:mm:ss AM/PM";
        QTest::newRow("12-hour written without AM/PM") << "yyyy-MM-dd h:mm" << "yyyy-MM-dd" << "h:mm AM/PM"
                                                       << "yyyy-MM-dd h:mm AM/PM";
        QTest::newRow("24-hour") << "MM/dd/yyyy HH:mm" << "MM/dd/yyyy" << "HH:mm" << "MM/dd/yyyy HH:mm";
        QTest::newRow("none of the entries") << "EEE,d.M. 'at' HH:mm" << "EEE,d.M." << "'at' HH:mm"
                                             << "EEE,d.M. 'at' HH:mm";
        QTest::newRow("no time piece") << "yyyy-MM-dd" << "yyyy-MM-dd" << "" << "yyyy-MM-dd";
    }
    void storedDateFormatsSelectTheirEntries()
    {
        QFETCH(QString, stored);
        QFETCH(QString, date);
        QFETCH(QString, time);
        QFETCH(QString, saved);
        const json settings{{"dateFormat", stored.toStdString()}};
        open(&settings);
        QVERIFY(c<QRadioButton>("dateDefined")->isChecked());
        QCOMPARE(c<QComboBox>("datePattern")->currentText(), date);
        QCOMPARE(c<QComboBox>("timePattern")->currentText(), time);
        c<QRadioButton>("hostsByAddress")->click();  // a change elsewhere
        QCOMPARE(save()["dateFormat"], json(saved.toStdString()));
    }

    void theDefinedFormatButtonSelectsTheFirstEntries()
    {
        const json settings{{"dateFormat", "dd/MM/yyyy HH:mm"}};
        open(&settings);
        c<QRadioButton>("dateDefined")->click();  // already on
        QCOMPARE(c<QComboBox>("datePattern")->currentIndex(), 0);
        QCOMPARE(c<QComboBox>("timePattern")->currentIndex(), 0);
        QCOMPARE(save()["dateFormat"], json("yyyy-MM-dd HH:mm:ss"));
    }

    void patternEntriesAreTwelveOrTwentyFourHour()
    {
        for (const auto& entry : ToolsViewOptions::timePatterns())
            QVERIFY2(entry.startsWith('H') || (entry.startsWith('h') && entry.endsWith(" AM/PM")),
                     qPrintable(entry));
        for (const auto& entry : ToolsViewOptions::datePatterns())
            QVERIFY2(!entry.contains(' '), qPrintable(entry));
    }

    void addWithARowSelectedMakesANewFilter()
    {
        const json settings{{"excludeFiltersArray", {filter("noise", "*heartbeat*")}}};
        open(&settings);
        auto* table = c<QTableWidget>("excludeFiltersTable");
        QVERIFY(!c<QPushButton>("excludeFiltersEdit")->isEnabled());
        table->selectRow(0);
        QVERIFY(c<QPushButton>("excludeFiltersEdit")->isEnabled());
        QVERIFY(c<QPushButton>("excludeFiltersRemove")->isEnabled());
        c<QPushButton>("excludeFiltersAdd")->click();
        ToolsViewFilter* sheet = page_->filterView();
        QVERIFY(sheet && sheet->isVisible());
        QVERIFY(sheet->isNew());
        QVERIFY(!c<QPushButton>("excludeFiltersEdit")->isEnabled());
        auto* name = child<QLineEdit>(*sheet, "filterName");
        QVERIFY(name->isEnabled());
        name->setText("ssh");
        child<QLineEdit>(*sheet, "filterMessage")->setText("*sshd*");
        // Enter saves the dialog.
        QTest::keyClick(sheet, Qt::Key_Return);
        QTRY_VERIFY(!page_->filterView());
        QCOMPARE(table->rowCount(), 2);
        QVERIFY(c<QPushButton>("saveButton")->isEnabled());
        const json sent = save();
        QCOMPARE(sent["excludeFiltersArray"],
                 json({filter("noise", "*heartbeat*"), filter("ssh", "*sshd*")}));
    }

    void editingAFilterReplacesItAndEscapeChangesNothing()
    {
        json odd = filter("odd", "*");
        odd["Facility"] = "Local*";  // typed, none of the entries
        const json settings{{"includeFiltersArray", {filter("a", "*a*"), odd}}};
        open(&settings);
        auto* table = c<QTableWidget>("includeFiltersTable");
        table->selectRow(1);
        c<QPushButton>("includeFiltersEdit")->click();
        ToolsViewFilter* sheet = page_->filterView();
        QVERIFY(sheet && !sheet->isNew());
        QVERIFY(!child<QLineEdit>(*sheet, "filterName")->isEnabled());
        QTest::keyClick(sheet, Qt::Key_Escape);
        QTRY_VERIFY(!page_->filterView());
        QVERIFY(!c<QPushButton>("saveButton")->isEnabled());

        c<QPushButton>("includeFiltersEdit")->click();
        sheet = page_->filterView();
        child<QPushButton>(*sheet, "saveButton")->click();  // unchanged
        QTRY_VERIFY(!page_->filterView());
        QVERIFY(c<QPushButton>("saveButton")->isEnabled());
        QCOMPARE(page_->filtersArray(ToolsViewOptions::Filters::Include), json({filter("a", "*a*"), odd}));

        c<QPushButton>("includeFiltersEdit")->click();
        sheet = page_->filterView();
        child<QPushButton>(*sheet, "anySeverity")->click();
        child<QLineEdit>(*sheet, "filterIP")->setText("10.0.0.0");
        child<QLineEdit>(*sheet, "filterMask")->setText("8");
        child<QPushButton>(*sheet, "saveButton")->click();
        QTRY_VERIFY(!page_->filterView());
        json changed = odd;
        changed["IP"] = "10.0.0.0";
        changed["Mask"] = "8";
        QCOMPARE(save()["includeFiltersArray"], json({filter("a", "*a*"), changed}));
    }

    // Each field the daemon could not use keeps Save off and says why beside
    // it; Enter then saves nothing. Put right, the filter is saved.
    void theFilterEditorRefusesEachUnusableField()
    {
        open(nullptr);
        c<QPushButton>("includeFiltersAdd")->click();
        ToolsViewFilter* sheet = page_->filterView();
        QVERIFY(sheet && sheet->isNew());
        auto* saveSheet = child<QPushButton>(*sheet, "saveButton");
        QVERIFY(saveSheet->isEnabled());
        struct Case {
            const char* field;
            const char* typed;
            const char* problemLabel;
            const char* said;
        };
        const Case cases[] = {
            {"filterIP", "999.1.1.1", "filterHostProblem", "\"999.1.1.1\" is not an IPv4 address"},
            {"filterIP", "10.0.0", "filterHostProblem", "\"10.0.0\" is not an IPv4 address"},
            {"filterIP", "", "filterHostProblem", "No address; 0.0.0.0 with mask 0 takes every host"},
            {"filterMask", "40", "filterHostProblem", "Mask \"40\" is not a prefix length from 0 to 32"},
            {"filterMask", "ab-7", "filterHostProblem", "Mask \"ab-7\" is not a prefix length from 0 to 32"},
            {"filterMask", "-1", "filterHostProblem", "Mask \"-1\" is not a prefix length from 0 to 32"},
            {"filterName", "", "filterNameProblem", "The name is empty"},
            {"filterName", "  ", "filterNameProblem", "The name is empty"},
            {"filterMessage", "", "filterMessageProblem", "The message pattern is empty; * matches any text"},
        };
        for (const auto& k : cases) {
            auto* field = child<QLineEdit>(*sheet, k.field);
            const QString before = field->text();
            field->selectAll();
            QTest::keyClick(field, Qt::Key_Delete);
            QTest::keyClicks(field, k.typed);
            auto* problem = child<QLabel>(*sheet, k.problemLabel);
            QVERIFY2(!saveSheet->isEnabled(), k.typed);
            QVERIFY2(problem->isVisibleTo(sheet), k.typed);
            QVERIFY2(problem->text().startsWith(k.said), qPrintable(problem->text()));
            QTest::keyClick(field, Qt::Key_Return);
            QVERIFY2(page_->filterView() && sheet->isVisible(), "Enter saved an unusable filter");
            field->setText(before);
            QVERIFY(saveSheet->isEnabled());
            QVERIFY(!problem->isVisibleTo(sheet));
        }
        auto* severity = child<QComboBox>(*sheet, "filterSeverity");
        severity->setEditText("");
        QVERIFY(!saveSheet->isEnabled());
        QVERIFY(child<QLabel>(*sheet, "filterSeverityProblem")->text().startsWith("The severity pattern is empty"));
        child<QPushButton>(*sheet, "anySeverity")->click();
        QVERIFY(saveSheet->isEnabled());

        child<QLineEdit>(*sheet, "filterName")->setText("lab");
        child<QLineEdit>(*sheet, "filterIP")->setText("192.168.1.0");
        child<QLineEdit>(*sheet, "filterMask")->setText("24");
        saveSheet->click();
        QTRY_VERIFY(!page_->filterView());
        json lab = filter("lab", "*");
        lab["IP"] = "192.168.1.0";
        lab["Mask"] = "24";
        QCOMPARE(save()["includeFiltersArray"], json({lab}));
    }

    // A record edited by hand with a mask the daemon cannot use is shown as
    // stored, with its reason, not quietly read as another range.
    void aStoredUnusableMaskIsShownWithItsReason()
    {
        json odd = filter("odd", "*");
        odd["Mask"] = "ab-7";
        const json settings{{"includeFiltersArray", {odd}}};
        open(&settings);
        c<QTableWidget>("includeFiltersTable")->selectRow(0);
        c<QPushButton>("includeFiltersEdit")->click();
        ToolsViewFilter* sheet = page_->filterView();
        QVERIFY(sheet);
        QCOMPARE(child<QLineEdit>(*sheet, "filterMask")->text(), QString("ab-7"));
        QVERIFY(!child<QPushButton>(*sheet, "saveButton")->isEnabled());
        QVERIFY(child<QLabel>(*sheet, "filterHostProblem")->isVisibleTo(sheet));
        QTest::keyClick(sheet, Qt::Key_Escape);
        QTRY_VERIFY(!page_->filterView());
    }

    void removingOneOfTwoIdenticalFiltersRemovesBoth()
    {
        const json settings{
            {"includeFiltersArray", {filter("same", "*x*"), filter("other", "*"), filter("same", "*x*")}}};
        open(&settings);
        c<QTableWidget>("includeFiltersTable")->selectRow(2);
        c<QPushButton>("includeFiltersRemove")->click();
        QCOMPARE(c<QTableWidget>("includeFiltersTable")->rowCount(), 1);
        QVERIFY(!c<QPushButton>("includeFiltersRemove")->isEnabled());
        QCOMPARE(save()["includeFiltersArray"], json({filter("other", "*")}));
    }

    void cancelDiscardsEditsIncludingFilterChanges()
    {
        const json settings{{"includeFiltersArray", {filter("a", "*")}}, {"hostsDisplay", false}};
        open(&settings);
        c<QTableWidget>("includeFiltersTable")->selectRow(0);
        c<QPushButton>("includeFiltersRemove")->click();
        c<QRadioButton>("hostsByName")->click();
        QSignalSpy closed(page_.get(), &EditorPage::closeRequested);
        page_->parentTab = 1;
        c<QPushButton>("cancelButton")->click();
        QCOMPARE(closed.count(), 1);
        QCOMPARE(closed.first().first().toInt(), 1);
        page_->hide();
        page_->show();
        QCOMPARE(c<QTableWidget>("includeFiltersTable")->rowCount(), 1);
        QVERIFY(c<QRadioButton>("hostsByAddress")->isChecked());
        QVERIFY(bench_->peer->commands.isEmpty());
    }

    void unusableValuesShowWithoutHarm()
    {
        const json settings{{"hostsDisplay", "1"},          {"removalDebug", "7 days"},
                            {"removalDebugUnits", 9},       {"severityError", 7},
                            {"popupEvents", -5},            {"popupDisplayArray", "Error"},
                            {"includeFiltersArray", json::array({json{{"a", 1}}})}, {"excludeFiltersArray", 3},
                            {"dateFormat", json::array()}, {"popupSound", 12}};
        open(&settings);
        QVERIFY(c<QRadioButton>("hostsByName")->isChecked());
        QCOMPARE(c<QSpinBox>("removalDebugAge")->value(), 7);
        QCOMPARE(c<QComboBox>("removalDebugUnits")->currentIndex(), -1);
        QCOMPARE(c<QComboBox>("severityError")->currentIndex(), -1);
        QVERIFY(!box("popupEvents")->isChecked());  // a negative time shows no popups
        QVERIFY(c<QRadioButton>("dateLocale")->isChecked());
        QCOMPARE(c<QTableWidget>("includeFiltersTable")->rowCount(), 1);
        c<QRadioButton>("hostsByAddress")->click();
        testkit::whenMessageBox([](QMessageBox* b) {  // the sound file "12" is not there
            for (auto* button : b->buttons())
                if (b->buttonRole(button) == QMessageBox::AcceptRole)
                    button->click();
        });
        const json sent = save();
        QCOMPARE(sent["severityError"], json(7));  // untouched: kept as stored
        QCOMPARE(sent["removalDebugUnits"], json(-1));
        QCOMPARE(sent["includeFiltersArray"], json::array({json{{"a", 1}}}));
        QCOMPARE(sent["excludeFiltersArray"], json::array());
        QCOMPARE(sent["popupSound"], json("12"));
    }

    void aPortBeyondTheRangeIsRefusedAsTyped()
    {
        open(nullptr);
        auto* tcp = c<QSpinBox>("receptionTcpPort");
        tcp->setFocus();
        tcp->selectAll();
        QTest::keyClicks(tcp, "99999");
        c<QLineEdit>("receptionTlsCertificate")->setFocus();
        QCOMPARE(tcp->text(), QStringLiteral("99999"));
        c<QPushButton>("saveButton")->click();
        QCOMPARE(c<QLabel>("saveMessage")->text(),
                 QStringLiteral("Not saved: TCP port \"99999\" is not a port from 0 to 65535."));
        QTest::qWait(200);
        QVERIFY(bench_->peer->commands.isEmpty());
        tcp->setValue(6601);
        QCOMPARE(save()["receptionTcpPort"], json(6601));
    }

    void theReceptionGroupWritesItsKeysOnlyOnceTheyAreUsed()
    {
        open(nullptr);
        auto* tcp = c<QSpinBox>("receptionTcpPort");
        auto* tls = c<QSpinBox>("receptionTlsPort");
        QCOMPARE(tcp->value(), 0);
        QCOMPARE(tcp->text(), QStringLiteral("Off"));
        tcp->setValue(6601);
        QVERIFY(c<QPushButton>("saveButton")->isEnabled());
        QTest::keyClicks(c<QLineEdit>("receptionTlsCertificate"), " /etc/ssl/server.pem ");
        json sent = save();
        QCOMPARE(sent["receptionTcpPort"], json(6601));
        QCOMPARE(sent["receptionTlsCertificate"], json("/etc/ssl/server.pem"));
        // Left off and empty: not written at all.
        QVERIFY(!sent.contains("receptionTlsPort"));
        QVERIFY(!sent.contains("receptionTlsKey"));
        QVERIFY(!sent.contains("receptionTlsCaFile"));

        // Once in the file, switching off writes the 0 and the empty text.
        const json settings{{"receptionTcpPort", 6601}, {"receptionTlsPort", 6514},
                            {"receptionTlsCertificate", "/c.pem"}, {"receptionTlsKey", "/k.pem"},
                            {"receptionTlsCaFile", "/ca.pem"}};
        open(&settings);
        QCOMPARE(c<QSpinBox>("receptionTcpPort")->value(), 6601);
        QCOMPARE(c<QSpinBox>("receptionTlsPort")->value(), 6514);
        QCOMPARE(c<QLineEdit>("receptionTlsKey")->text(), QStringLiteral("/k.pem"));
        QCOMPARE(c<QLineEdit>("receptionTlsCaFile")->text(), QStringLiteral("/ca.pem"));
        QVERIFY(!c<QPushButton>("saveButton")->isEnabled());  // loading is no edit
        c<QSpinBox>("receptionTlsPort")->setValue(0);
        c<QLineEdit>("receptionTlsCaFile")->clear();
        sent = save();
        QCOMPARE(sent["receptionTlsPort"], json(0));
        QCOMPARE(sent["receptionTlsCaFile"], json(""));
        QCOMPARE(sent["receptionTcpPort"], json(6601));
        QCOMPARE(sent["receptionTlsKey"], json("/k.pem"));
        Q_UNUSED(tls);
    }
};

QTEST_MAIN(ToolsViewOptionsTest)
#include "ToolsViewOptions_test.moc"
