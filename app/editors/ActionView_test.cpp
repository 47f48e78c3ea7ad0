// The action editor and its command sheets, driven by object name the way
// a user drives them: the record a Save builds, the boxes after each sheet
// closes, the empty-recipients alert and the program's file dialog.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

#include <tuple>

#include <nlohmann/json.hpp>

#include "ActionView.h"
#include "ActionsEmailServer.h"
#include "testkit/Dialogs.h"

using namespace brantwell;
using nlohmann::json;

namespace {

using testkit::child;

// The command sheet the editor has open, once it is shown.
QDialog* openSheet(ActionView& editor, const char* name)
{
    // A sheet closed before may linger until it is deleted: take the one shown.
    QDialog* sheet = nullptr;
    (void)QTest::qWaitFor([&] {
        for (auto* d : editor.findChildren<QDialog*>(QString::fromLatin1(name)))
            if (d->isVisible())
                sheet = d;
        return sheet != nullptr;
    });
    return sheet;
}

void click(QWidget* parent, const char* name)
{
    QTest::mouseClick(child<QAbstractButton>(parent, name), Qt::LeftButton);
}

// Saves the editor and returns the record it built.
json saved(ActionView& editor)
{
    click(&editor, "saveButton");
    return editor.result();
}

const json kRecord = {{"Name", "Disk alarms"},
                      {"IP", "10.0.0.0"},
                      {"Mask", "8"},
                      {"Facility", "Local4"},
                      {"Severity", "Error"},
                      {"Message", "*disk*"},
                      {"runCommand", json::object()},
                      {"sendEmail", {{"Recipients", {"ops@example.com", "oncall@example.com"}}}},
                      {"setEvent", json::object()},
                      {"Comment", "kept by other versions"}};

} // namespace

class ActionViewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void newActionSavedUnchangedHoldsTheDefaultsAndThreeEmptyCommands()
    {
        ActionView editor(nullptr, nullptr);
        editor.show();
        const json expected = {{"Name", "New Action"}, {"IP", "0.0.0.0"},        {"Mask", "0"},
                               {"Facility", "*"},      {"Severity", "*"},        {"Message", "*"},
                               {"runCommand", json::object()}, {"sendEmail", json::object()},
                               {"setEvent", json::object()}};
        QCOMPARE(saved(editor), expected);
        QVERIFY(child<QLineEdit>(&editor, "filterName")->isEnabled());
    }

    void editingKeepsTheNameAndEveryKeyOfTheRecord()
    {
        ActionView editor(&kRecord, nullptr);
        editor.show();
        QVERIFY(!child<QLineEdit>(&editor, "filterName")->isEnabled());
        QVERIFY(child<QCheckBox>(&editor, "actionEmail")->isChecked());
        QVERIFY(!child<QCheckBox>(&editor, "actionRun")->isChecked());
        // Unchanged, the record comes back as it was, unknown key included.
        QCOMPARE(saved(editor), kRecord);

        ActionView again(&kRecord, nullptr);
        again.show();
        click(&again, "anySeverity");
        click(&again, "anyHost");
        const json r = saved(again);
        QCOMPARE(r["Severity"], json("*"));
        QCOMPARE(r["IP"], json("0.0.0.0"));
        QCOMPARE(r["Mask"], json("0"));
        QCOMPARE(r["Name"], json("Disk alarms"));
    }

    void switchingTheEmailBoxOffEmptiesItsDictionary()
    {
        ActionView editor(&kRecord, nullptr);
        editor.show();
        click(&editor, "actionEmail");  // off: no sheet, the dictionary goes
        QVERIFY(!editor.findChild<QDialog*>(QStringLiteral("commandEmail")));
        const json r = saved(editor);
        QCOMPARE(r["sendEmail"], json::object());

        ActionView reopened(&r, nullptr);
        reopened.show();
        QVERIFY(!child<QCheckBox>(&reopened, "actionEmail")->isChecked());
    }

    void theRunSheetNeedsAProgramAndSetsTheBoxWhenItCloses()
    {
        ActionView editor(nullptr, nullptr);
        editor.show();
        auto* box = child<QCheckBox>(&editor, "actionRun");

        // Ticked, then cancelled: off again, nothing stored.
        click(&editor, "actionRun");
        QDialog* sheet = openSheet(editor, "commandRun");
        QVERIFY(sheet);
        QVERIFY(box->isChecked());
        click(sheet, "cancelButton");
        QVERIFY(!box->isChecked());
        QCOMPARE(editor.runCommand, json::object());

        // Argument and environment without a program are no command.
        click(&editor, "actionRun");
        sheet = openSheet(editor, "commandRun");
        QTest::keyClicks(child(sheet, "argumentsField"), "$host");
        QTest::keyClicks(child(sheet, "environmentText"), "A:1");
        click(sheet, "saveButton");
        QVERIFY(!box->isChecked());
        QCOMPARE(editor.runCommand, json::object());

        // A program that is not there is said before it is kept: "Go back"
        // leaves the sheet open, "Save anyway" keeps it.
        click(&editor, "actionRunText");
        sheet = openSheet(editor, "commandRun");
        QTest::keyClicks(child(sheet, "commandField"), "/usr/bin/no-such-program");
        QString warned;
        testkit::whenMessageBox([&warned](QMessageBox* b) {
            warned = b->informativeText();
            b->reject();
        });
        click(sheet, "saveButton");
        QCOMPARE(warned, QStringLiteral("The program \"/usr/bin/no-such-program\" does not exist."));
        QVERIFY(sheet->isVisible());
        testkit::whenMessageBox([&warned](QMessageBox* b) {
            warned = b->informativeText();
            b->reject();
        });
        child<QLineEdit>(sheet, "commandField")->setText(QStringLiteral("/etc/passwd"));
        click(sheet, "saveButton");
        QCOMPARE(warned, QStringLiteral("The program \"/etc/passwd\" cannot be run (it is no executable file)."));
        child<QLineEdit>(sheet, "commandField")->clear();
        QTest::keyClicks(child(sheet, "commandField"), "/usr/bin/logger");
        QTest::keyClicks(child(sheet, "argumentsField"), "$priority from $host: $message");
        child<QPlainTextEdit>(sheet, "environmentText")->setPlainText(QStringLiteral("LANG:C\nPATH:/usr/bin:/bin"));
        click(sheet, "saveButton");
        QVERIFY(box->isChecked());
        const json expected = {{"Command", "/usr/bin/logger"},
                               {"Arguments", "$priority from $host: $message"},
                               {"Environment", "LANG:C\nPATH:/usr/bin:/bin"}};
        QCOMPARE(editor.runCommand, expected);

        // Cancel on the link's sheet leaves the earlier command and the box on.
        click(&editor, "actionRunText");
        sheet = openSheet(editor, "commandRun");
        QCOMPARE(child<QLineEdit>(sheet, "commandField")->text(), QStringLiteral("/usr/bin/logger"));
        child<QLineEdit>(sheet, "commandField")->clear();
        click(sheet, "cancelButton");
        QVERIFY(box->isChecked());
        QCOMPARE(saved(editor)["runCommand"], expected);
    }

    void theProgramDialogOpensInUsrBinWithItsMessage()
    {
        ActionView editor(nullptr, nullptr);
        editor.show();
        click(&editor, "actionRunText");
        QDialog* sheet = openSheet(editor, "commandRun");
        QString message, directory;
        QTimer::singleShot(0, [&] {
            (void)QTest::qWaitFor([&] { return sheet->findChild<QFileDialog*>(QStringLiteral("fileChoice")) != nullptr; });
            auto* dialog = sheet->findChild<QFileDialog*>(QStringLiteral("fileChoice"));
            message = dialog->findChild<QLabel*>(QStringLiteral("fileChoiceMessage"))->text();
            directory = dialog->directory().absolutePath();
            dialog->selectFile(QStringLiteral("/usr/bin/env"));
            QMetaObject::invokeMethod(dialog, "accept");
        });
        click(sheet, "browseButton");
        QCOMPARE(message, QStringLiteral("Please select command file path:"));
        QCOMPARE(directory, QStringLiteral("/usr/bin"));
        QCOMPARE(child<QLineEdit>(sheet, "commandField")->text(), QStringLiteral("/usr/bin/env"));
    }

    void theEmailSheetKeepsTheOrderAndRefusesAnEmptyList()
    {
        ActionView editor(&kRecord, nullptr);
        editor.show();
        click(&editor, "actionEmailText");
        QDialog* sheet = openSheet(editor, "commandEmail");
        auto* list = child<QListWidget>(sheet, "recipientsList");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), QStringLiteral("ops@example.com"));
        QCOMPARE(list->item(1)->text(), QStringLiteral("oncall@example.com"));
        QVERIFY(!child(sheet, "addRecipient")->isEnabled());

        // The same address twice, then removing it takes both.
        for (const char* address : {"ops@example.com", "x@example.com"}) {
            QTest::keyClicks(child(sheet, "recipientField"), address);
            QVERIFY(child(sheet, "addRecipient")->isEnabled());
            click(sheet, "addRecipient");
        }
        QCOMPARE(list->count(), 4);
        list->setCurrentRow(0);
        click(sheet, "removeRecipient");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), QStringLiteral("oncall@example.com"));
        click(sheet, "removeRecipient");  // nothing selected: nothing goes
        QCOMPARE(list->count(), 2);

        // An emptied list: the alert, and the sheet stays with nothing changed.
        list->setCurrentRow(0);
        click(sheet, "removeRecipient");
        list->setCurrentRow(0);
        click(sheet, "removeRecipient");
        QCOMPARE(list->count(), 0);
        QString title, text, informative;
        testkit::whenMessageBox([&](QMessageBox* box) {
            title = box->windowTitle();
            text = box->text();
            informative = box->informativeText();
            box->accept();
        });
        click(sheet, "saveButton");
        QCOMPARE(title, QStringLiteral("Brantwell"));
        QCOMPARE(text, QStringLiteral("No recipients selected"));
        QCOMPARE(informative, QStringLiteral("Please add recipients and try again."));
        QVERIFY(sheet->isVisible());
        QCOMPARE(editor.sendEmail, kRecord["sendEmail"]);

        QTest::keyClicks(child(sheet, "recipientField"), "new@example.com");
        click(sheet, "addRecipient");
        click(sheet, "saveButton");
        QCOMPARE(editor.sendEmail, json({{"Recipients", {"new@example.com"}}}));
        QVERIFY(child<QCheckBox>(&editor, "actionEmail")->isChecked());
    }

    void theLogSheetNeedsAText()
    {
        ActionView editor(nullptr, nullptr);
        editor.show();
        auto* box = child<QCheckBox>(&editor, "actionEvent");
        click(&editor, "actionEvent");
        QDialog* sheet = openSheet(editor, "commandEvent");
        auto* types = child<QComboBox>(sheet, "typeList");
        QCOMPARE(types->currentText(), QStringLiteral("Default"));
        QStringList entries;
        for (int i = 0; i < types->count(); ++i)
            entries << types->itemText(i);
        QCOMPARE(entries, QStringList({"Default", "Information", "Debug", "Error", "Fault"}));
        types->setCurrentIndex(3);
        click(sheet, "saveButton");  // no text: no entry, the type is not kept
        QVERIFY(!box->isChecked());
        QCOMPARE(editor.setEvent, json::object());

        click(&editor, "actionEventText");
        sheet = openSheet(editor, "commandEvent");
        QCOMPARE(child<QComboBox>(sheet, "typeList")->currentText(), QStringLiteral("Default"));
        child<QComboBox>(sheet, "typeList")->setCurrentIndex(4);
        QTest::keyClicks(child(sheet, "formatText"), "$host: $message");
        click(sheet, "saveButton");
        QVERIFY(box->isChecked());
        QCOMPARE(editor.setEvent, json({{"Type", "Fault"}, {"Format", "$host: $message"}}));

        click(&editor, "actionEventText");
        sheet = openSheet(editor, "commandEvent");
        QCOMPARE(child<QComboBox>(sheet, "typeList")->currentText(), QStringLiteral("Fault"));
        QVERIFY(child<QLabel>(sheet, "placeholderNote")->text().contains(QStringLiteral("$priority")));
        click(sheet, "cancelButton");
    }

    // A label whose text has a mnemonic must lead to its field; a row of
    // several widgets has no buddy of its own and showed a literal "&".
    void everyMnemonicLabelLeadsToAField()
    {
        ActionView editor(nullptr, nullptr);
        editor.show();
        QList<QWidget*> windows{&editor};
        for (const char* link : {"actionRunText", "actionEmailText", "actionEventText"}) {
            click(&editor, link);
            QDialog* sheet = nullptr;
            QVERIFY(QTest::qWaitFor([&] {
                for (auto* d : editor.findChildren<QDialog*>())
                    if (d->isVisible() && !windows.contains(d))
                        sheet = d;
                return sheet != nullptr;
            }));
            windows << sheet;
            sheet->hide();
        }
        ActionsEmailServer server({}, nullptr);
        windows << &server;
        for (QWidget* window : windows)
            for (auto* label : window->findChildren<QLabel*>()) {
                const QString text = QString(label->text()).remove(QStringLiteral("&&"));
                if (text.contains(QLatin1Char('&')))
                    QVERIFY2(label->buddy(), qPrintable(window->objectName() + QStringLiteral(": ") + label->text()));
            }
    }

    // The limit row saves "ThrottleCount" and "ThrottleSeconds", reads them
    // back in the largest whole unit, and off removes both.
    void theLimitRowSavesAndReloadsTheTwoKeysAndOffRemovesThem()
    {
        ActionView editor(&kRecord, nullptr);
        editor.show();
        QVERIFY(!child<QCheckBox>(&editor, "actionLimit")->isChecked());
        QVERIFY(!child<QSpinBox>(&editor, "actionLimitCount")->isEnabled());
        click(&editor, "actionLimit");
        child<QSpinBox>(&editor, "actionLimitCount")->setValue(5);
        child<QSpinBox>(&editor, "actionLimitPeriod")->setValue(2);
        child<QComboBox>(&editor, "actionLimitUnit")->setCurrentIndex(2);  // hours
        json r = saved(editor);
        QCOMPARE(r["ThrottleCount"], json(5));
        QCOMPARE(r["ThrottleSeconds"], json(7200));
        QCOMPARE(r["Comment"], kRecord["Comment"]);

        for (const auto& [seconds, period, unit] : {std::tuple{7200, 2, 2}, {90, 90, 0}, {600, 10, 1}}) {
            r["ThrottleSeconds"] = seconds;
            ActionView reopened(&r, nullptr);
            reopened.show();
            QVERIFY(child<QCheckBox>(&reopened, "actionLimit")->isChecked());
            QCOMPARE(child<QSpinBox>(&reopened, "actionLimitCount")->value(), 5);
            QCOMPARE(child<QSpinBox>(&reopened, "actionLimitPeriod")->value(), period);
            QCOMPARE(child<QComboBox>(&reopened, "actionLimitUnit")->currentIndex(), unit);
            QCOMPARE(saved(reopened)["ThrottleSeconds"], json(seconds));
        }

        ActionView off(&r, nullptr);
        off.show();
        click(&off, "actionLimit");
        const json cleared = saved(off);
        QVERIFY(!cleared.contains("ThrottleCount"));
        QVERIFY(!cleared.contains("ThrottleSeconds"));
    }

    // The filter fields' refusal holds here too: no action with a mask of 40.
    void anActionWithAFieldTheDaemonCannotUseIsNotSaved()
    {
        ActionView editor(&kRecord, nullptr);
        editor.show();
        auto* mask = child<QLineEdit>(&editor, "filterMask");
        mask->setText(QStringLiteral("40"));
        QVERIFY(!child<QPushButton>(&editor, "saveButton")->isEnabled());
        mask->setText(QStringLiteral("8"));
        QVERIFY(child<QPushButton>(&editor, "saveButton")->isEnabled());
    }

    void commandsThatAreNoDictionariesReadAsOff()
    {
        json odd = kRecord;
        odd["runCommand"] = "rm -rf /";
        odd["sendEmail"] = {{"Recipients", "not a list"}};
        odd.erase("setEvent");
        ActionView editor(&odd, nullptr);
        editor.show();
        QVERIFY(!child<QCheckBox>(&editor, "actionRun")->isChecked());
        click(&editor, "actionEmailText");
        QDialog* sheet = openSheet(editor, "commandEmail");
        QCOMPARE(child<QListWidget>(sheet, "recipientsList")->count(), 0);
        click(sheet, "cancelButton");
        const json r = saved(editor);
        QCOMPARE(r["runCommand"], json::object());
        QCOMPARE(r["setEvent"], json::object());
    }
};

QTEST_MAIN(ActionViewTest)
#include "ActionView_test.moc"
