// The actions page and the e-mail sheets with the real BrantwellSrv on a
// private bus and, where mail goes out, a real SMTP server on loopback.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSlider>
#include <QSpinBox>
#include <QTableWidget>

#include <filesystem>

#include "ActionView.h"
#include "ActionsEmailTest.h"
#include "ToolsViewActions.h"
#include "events/DaemonLink.h"
#include "testkit/Dialogs.h"
#include "testkit/RealDaemon.h"
#include "testkit/SmtpPeers.h"

using namespace brantwell;
using nlohmann::json;

namespace {

using testkit::child;

void click(QObject* parent, const char* name)
{
    QTest::mouseClick(child(parent, name), Qt::LeftButton);
}

// The dialog `name` once it is on screen, or null.
template <typename T = QDialog>
T* shown(QObject* parent, const char* name)
{
    // A dialog closed before may linger until it is deleted: take the one shown.
    T* d = nullptr;
    (void)QTest::qWaitFor([&] {
        for (auto* c : parent->findChildren<T*>(QString::fromLatin1(name)))
            if (c->isVisible())
                d = c;
        return d != nullptr;
    });
    return d;
}

bool closed(QObject* parent, const char* name)
{
    return QTest::qWaitFor([&] {
        for (auto* d : parent->findChildren<QDialog*>(QString::fromLatin1(name)))
            if (d->isVisible())
                return false;
        return true;
    }, 20000);
}

json action(const char* name, const char* severity)
{
    return {{"Name", name},         {"IP", "0.0.0.0"},           {"Mask", "0"},
            {"Facility", "*"},      {"Severity", severity},      {"Message", "*"},
            {"runCommand", json::object()}, {"sendEmail", json::object()}, {"setEvent", json::object()}};
}

// The address a sheet's SMTP settings point at, saved through the daemon.
json smtpSettings(unsigned port)
{
    return {{"actionsEmailServer", "127.0.0.1"}, {"actionsEmailPort", port}, {"actionsEmailSender", "srv@example.com"},
            {"actionsEmailUsername", "user"},  {"actionsEmailPassword", "secret"}};
}

} // namespace

class ToolsViewActionsTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<testkit::RealDaemon> daemon_;
    DaemonLink* link_ = nullptr;
    std::unique_ptr<ToolsViewActions> page_;
    std::string dateFormat_;

    // Saves `settings` through the daemon, as another editor would.
    void save(const json& settings)
    {
        bool done = false;
        link_->saveSettings(settings, [&](const QString& failure) {
            QVERIFY2(failure.isEmpty(), qPrintable(failure));
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
    }

    json fileKey(const char* key) const
    {
        const json s = daemon_->settingsFile();
        return s.is_object() && s.contains(key) ? s[key] : json();
    }

    QTableWidget* table() const { return child<QTableWidget>(page_.get(), "automaticActionsTable"); }

    // Saves the page and waits until it returns to the page that opened it.
    void savePage()
    {
        QSignalSpy back(page_.get(), &EditorPage::closeRequested);
        QVERIFY(child(page_.get(), "saveButton")->isEnabled());
        click(page_.get(), "saveButton");
        QTRY_COMPARE_WITH_TIMEOUT(back.count(), 1, 10000);
        QCOMPARE(back.first().first().toInt(), 3);
    }

private Q_SLOTS:
    void init()
    {
        if (const QString why = testkit::RealDaemon::missing(); !why.isEmpty())
            QSKIP(qPrintable(why));
        daemon_ = std::make_unique<testkit::RealDaemon>();
        QVERIFY(daemon_->running());
        link_ = new DaemonLink(daemon_->connect(QStringLiteral("app")));
        page_ = std::make_unique<ToolsViewActions>(EditorContext{daemon_->dataDir(), link_},
                                                   [this] { return dateFormat_; });
        page_->parentTab = 3;
        page_->resize(900, 600);
    }
    void cleanup()
    {
        page_.reset();
        delete link_;
        link_ = nullptr;
        daemon_.reset();
    }

    void addThenCancelChangesNothingAndSaveStoresTheList()
    {
        save({{"hostsDisplay", true}, {"actionsArray", {action("Errors", "Error")}}});
        page_->show();
        QCOMPARE(table()->rowCount(), 1);
        QCOMPARE(table()->item(0, 0)->text(), QStringLiteral("Errors"));
        QVERIFY(!child(page_.get(), "saveButton")->isEnabled());
        QVERIFY(!child(page_.get(), "editAction")->isEnabled());

        click(page_.get(), "addAction");
        auto* editor = shown<ActionView>(page_.get(), "actionView");
        QVERIFY(editor);
        click(editor, "cancelButton");
        QVERIFY(closed(page_.get(), "actionView"));
        QCOMPARE(table()->rowCount(), 1);
        QVERIFY(!child(page_.get(), "saveButton")->isEnabled());

        // Add clears the selection: the editor makes a new action.
        table()->selectRow(0);
        QVERIFY(child(page_.get(), "editAction")->isEnabled());
        QVERIFY(child(page_.get(), "removeAction")->isEnabled());
        click(page_.get(), "addAction");
        QVERIFY(!child(page_.get(), "editAction")->isEnabled());
        editor = shown<ActionView>(page_.get(), "actionView");
        QCOMPARE(child<QLineEdit>(editor, "filterName")->text(), QStringLiteral("New Action"));
        click(editor, "saveButton");
        QCOMPARE(table()->rowCount(), 2);
        savePage();
        QTRY_COMPARE_WITH_TIMEOUT(fileKey("actionsArray").size(), 2u, 5000);
        QCOMPARE(fileKey("actionsArray")[1]["Name"], json("New Action"));
        QCOMPARE(fileKey("hostsDisplay"), json(true));

        // Edit replaces the chosen entry in place.
        page_->hide();
        page_->show();
        table()->selectRow(0);
        click(page_.get(), "editAction");
        editor = shown<ActionView>(page_.get(), "actionView");
        QVERIFY(!child(editor, "filterName")->isEnabled());
        click(editor, "anySeverity");
        click(editor, "saveButton");
        savePage();
        QTRY_COMPARE_WITH_TIMEOUT(fileKey("actionsArray")[0]["Severity"], json("*"), 5000);
        QCOMPARE(fileKey("actionsArray")[0]["Name"], json("Errors"));
        QCOMPARE(fileKey("actionsArray").size(), 2u);
    }

    void removeTakesEveryEqualRecordAndCancelSendsNothing()
    {
        const json twin = action("Twin", "Debug");
        save({{"actionsArray", {twin, action("Other", "Error"), twin}}});
        page_->show();
        QCOMPARE(table()->rowCount(), 3);
        table()->selectRow(2);
        click(page_.get(), "removeAction");
        QCOMPARE(table()->rowCount(), 1);
        QCOMPARE(table()->item(0, 0)->text(), QStringLiteral("Other"));
        QVERIFY(!child(page_.get(), "removeAction")->isEnabled());

        QSignalSpy back(page_.get(), &EditorPage::closeRequested);
        click(page_.get(), "cancelButton");
        QCOMPARE(back.count(), 1);
        QCOMPARE(fileKey("actionsArray").size(), 3u);

        page_->hide();
        page_->show();  // read afresh: the removal is gone
        QCOMPARE(table()->rowCount(), 3);
        table()->selectRow(0);
        click(page_.get(), "removeAction");
        savePage();
        QTRY_COMPARE_WITH_TIMEOUT(fileKey("actionsArray"), json::array({action("Other", "Error")}), 5000);
    }

    void emailSettingsSavedWhileThePageIsOpenSurviveItsSave()
    {
        page_->show();
        click(page_.get(), "emailServerLink");
        auto* server = shown(page_.get(), "emailServer");
        QVERIFY(server);
        child<QLineEdit>(server, "emailServer")->setText(QStringLiteral("mail.example.com"));
        click(server, "saveButton");
        QVERIFY(closed(page_.get(), "emailServer"));
        QCOMPARE(fileKey("actionsEmailServer"), json("mail.example.com"));

        click(page_.get(), "emailFormatLink");
        auto* format = shown(page_.get(), "emailFormat");
        child<QLineEdit>(format, "formatSubject")->setText(QStringLiteral("[$priority] $message"));
        click(format, "saveButton");
        QVERIFY(closed(page_.get(), "emailFormat"));

        // The page read the file before either sheet saved.
        click(page_.get(), "addAction");
        click(shown(page_.get(), "actionView"), "saveButton");
        savePage();
        QTRY_COMPARE_WITH_TIMEOUT(fileKey("actionsArray").size(), 1u, 5000);
        QCOMPARE(fileKey("actionsEmailServer"), json("mail.example.com"));
        QCOMPARE(fileKey("actionsFormatSubject"), json("[$priority] $message"));
    }

    void theServerSheetShowsDefaultsForZeroAndSavesItsSevenKeys()
    {
        save({{"actionsEmailPort", 0}, {"actionsEmailTimeout", 0}, {"actionsEmailPassword", "secret"},
              {"actionsEmailSecurity", "SSL"}, {"popupEvents", 7}});
        page_->show();
        click(page_.get(), "emailServerLink");
        auto* sheet = shown(page_.get(), "emailServer");
        QCOMPARE(child<QSpinBox>(sheet, "emailPort")->value(), 25);
        QCOMPARE(child<QSpinBox>(sheet, "emailTimeout")->value(), 1);
        QCOMPARE(child<QComboBox>(sheet, "emailSecurity")->currentText(), QStringLiteral("SSL"));
        auto* password = child<QLineEdit>(sheet, "emailPassword");
        QCOMPARE(password->text(), QStringLiteral("secret"));
        QCOMPARE(password->echoMode(), QLineEdit::Password);
        child<QSlider>(sheet, "timeoutSlider")->setValue(5);
        QCOMPARE(child<QSpinBox>(sheet, "emailTimeout")->value(), 5);
        child<QComboBox>(sheet, "emailSecurity")->setCurrentIndex(0);
        // A port typed beyond 65535 stays as typed and is refused, not cut
        // to 9999 or 65535.
        auto* port = child<QSpinBox>(sheet, "emailPort");
        port->setFocus();
        port->selectAll();
        QTest::keyClicks(port, "99999");
        child<QLineEdit>(sheet, "emailServer")->setFocus();  // leaving the field changes nothing
        QCOMPARE(port->text(), QStringLiteral("99999"));
        click(sheet, "saveButton");
        QCOMPARE(child<QLabel>(sheet, "saveMessage")->text(),
                 QStringLiteral("Not saved: Port \"99999\" is not a port from 1 to 65535."));
        QVERIFY(sheet->isVisible());
        port->setValue(25);
        // No server: said before saving; "Go back" keeps the sheet, "Save
        // anyway" saves.
        QString warned;
        testkit::whenMessageBox([&warned](QMessageBox* box) {
            warned = box->informativeText();
            box->reject();
        });
        click(sheet, "saveButton");
        QTRY_VERIFY(!warned.isEmpty());
        QCOMPARE(warned, QStringLiteral("No mail server is set: no e-mail can be sent, neither by actions nor as a test."));
        QVERIFY(sheet->isVisible());
        testkit::whenMessageBox([](QMessageBox* box) {
            for (auto* b : box->buttons())
                if (box->buttonRole(b) == QMessageBox::AcceptRole)
                    b->click();
        });
        click(sheet, "saveButton");
        QVERIFY(closed(page_.get(), "emailServer"));
        const json s = daemon_->settingsFile();
        QCOMPARE(s["actionsEmailPort"], json(25));
        QCOMPARE(s["actionsEmailTimeout"], json(5));
        QCOMPARE(s["actionsEmailSecurity"], json("None"));
        QCOMPARE(s["actionsEmailServer"], json(""));
        QCOMPARE(s["popupEvents"], json(7));
    }

    void theFormatSheetShowsTheDefaultsOnlyWithoutASettingsFile()
    {
        std::filesystem::remove(daemon_->dataDir() + "/Brantwell.ini");
        page_->show();
        click(page_.get(), "emailFormatLink");
        auto* sheet = shown(page_.get(), "emailFormat");
        QCOMPARE(child<QLineEdit>(sheet, "formatSubject")->text(), QStringLiteral("$message"));
        QCOMPARE(child<QPlainTextEdit>(sheet, "formatBody")->toPlainText(),
                 QStringLiteral("Date: $date\nPriority: $priority\nHost: $host\nMessage: $message\n"));
        QVERIFY(child<QCheckBox>(sheet, "sendSubject")->isChecked());
        // Saved as shown, the body keeps its CR LF line ends.
        click(sheet, "saveButton");
        QVERIFY(closed(page_.get(), "emailFormat"));
        // (Merged by the daemon over what it holds: the two templates are
        // what this sheet adds.)
        const json written = daemon_->settingsFile();
        QCOMPARE(written["actionsFormatSubject"], json("$message"));
        QCOMPARE(written["actionsFormatBody"],
                 json("Date: $date\r\nPriority: $priority\r\nHost: $host\r\nMessage: $message\r\n"));

        save(json::object());  // a file without the two templates
        click(page_.get(), "emailFormatLink");
        sheet = shown(page_.get(), "emailFormat");
        QVERIFY(!child<QCheckBox>(sheet, "sendSubject")->isChecked());
        QVERIFY(!child<QCheckBox>(sheet, "sendBody")->isChecked());
        QVERIFY(!child(sheet, "formatSubject")->isEnabled());
        child<QCheckBox>(sheet, "sendSubject")->click();
        QTest::keyClicks(child(sheet, "formatSubject"), "$host says $message");
        click(sheet, "saveButton");
        QVERIFY(closed(page_.get(), "emailFormat"));
        QCOMPARE(fileKey("actionsFormatSubject"), json("$host says $message"));
        QCOMPARE(fileKey("actionsFormatBody"), json(""));
    }

    void theTestCommandFillsTheSavedTemplatesAndStopsAtTheFirstMissingKey()
    {
        const json templates = {{"actionsFormatSubject", "Seen $message on $host."},
                                {"actionsFormatBody", "$date|$priority|$hostname"}};
        const json full = testEmailCommand({"a@example.com", "b@example.com"}, templates, "DATE");
        QCOMPARE(full, json({{"command", "email"},
                             {"Recipients", {"a@example.com", "b@example.com"}},
                             {"Subject", "Seen Brantwell - Test message on 127.0.0.1."},
                             {"Body", "DATE|Local7.Debug|127.0.0.1name"},
                             {"Html", false}}));
        QCOMPARE(testEmailCommand({"a@example.com"}, json({{"actionsFormatBody", "b"}}), "D"),
                 json({{"command", "email"}, {"Recipients", {"a@example.com"}}}));
        QCOMPARE(testEmailCommand({"a@example.com"}, json({{"actionsFormatSubject", "s"}}), "D"),
                 json({{"command", "email"}, {"Recipients", {"a@example.com"}}, {"Subject", "s"}}));
        QCOMPARE(testEmailCommand({"a@example.com"}, std::nullopt, "D"),
                 json({{"command", "email"}, {"Recipients", {"a@example.com"}}}));

        // 7 December 2026, 18:05:03 in Berlin: the AM/PM marker is the letter "a".
        const std::time_t t = 1796663103;
        QCOMPARE(QString::fromStdString(testDateText("yyyy-MM-dd h:mm:ss AM/PM", t)),
                 QStringLiteral("2026-12-07 6:05:03 PM"));
        QCOMPARE(QString::fromStdString(testDateText("dd.MM.yyyy HH:mm", t)), QStringLiteral("07.12.2026 18:05"));
    }

    void theTestSheetSaysWhatTheServerDid()
    {
        test::TempDir dir;
        test::AiosmtpdServer smtpd(dir, test::AiosmtpdServer::Mode::Plain, nullptr);
        test::AiosmtpdServer refusing(dir, test::AiosmtpdServer::Mode::Plain, nullptr, "", /*refuseAuth=*/true);
        QVERIFY(smtpd.port() && refusing.port());
        json settings = smtpSettings(smtpd.port());
        settings["actionsFormatSubject"] = "$message from $host";
        settings["actionsFormatBody"] = "At $date: $priority\r\n";
        save(settings);
        dateFormat_ = "yyyy AM/PM";
        page_->show();

        click(page_.get(), "emailTestLink");
        auto* sheet = shown(page_.get(), "emailTest");
        QString alert;
        testkit::whenMessageBox([&](QMessageBox* box) {
            alert = box->text();
            box->accept();
        });
        click(sheet, "saveButton");
        QCOMPARE(alert, QStringLiteral("No recipients selected"));

        // Enter in the field adds the address and nothing else: no mail
        // goes out until the button is pressed.
        QTest::keyClicks(child(sheet, "recipientField"), "ops@example.com");
        QTest::keyClick(child(sheet, "recipientField"), Qt::Key_Return);
        QTest::keyClick(child(sheet, "recipientField"), Qt::Key_Enter, Qt::KeypadModifier);  // empty: nothing
        QCOMPARE(child<QListWidget>(sheet, "recipientsList")->count(), 1);
        QVERIFY(sheet->isVisible());
        QTest::qWait(1500);
        QCOMPARE(smtpd.messages().size(), 0u);
        click(sheet, "saveButton");
        auto* message = child<QLabel>(sheet, "saveMessage");
        QTRY_COMPARE_WITH_TIMEOUT(message->text(), QStringLiteral("The mail server accepted the test message."), 20000);
        const auto mails = smtpd.messages();
        QCOMPARE(mails.size(), 1u);
        const std::string data = mails[0]["data"];
        QVERIFY2(data.find("Subject: Brantwell - Test message from 127.0.0.1\r\n") != std::string::npos, data.c_str());
        const QRegularExpression body(QStringLiteral("\r\n\r\nAt 20\\d\\d [AP]M: Local7.Debug\r\n"));
        QVERIFY2(body.match(QString::fromStdString(data)).hasMatch(), data.c_str());
        QCOMPARE(mails[0]["rcpt_tos"], json::array({"ops@example.com"}));
        click(sheet, "cancelButton");

        save(smtpSettings(refusing.port()));
        click(page_.get(), "emailTestLink");
        sheet = shown(page_.get(), "emailTest");
        QTest::keyClicks(child(sheet, "recipientField"), "ops@example.com");
        click(sheet, "addRecipient");
        click(sheet, "saveButton");
        message = child<QLabel>(sheet, "saveMessage");
        QTRY_VERIFY_WITH_TIMEOUT(message->text().contains(QStringLiteral("not sent: AUTH LOGIN password refused: 535")),
                                 20000);
        QVERIFY(refusing.messages().empty());
    }

    void thePageSavesWhileATestMailWaitsForASilentServer()
    {
        test::ScriptedSmtpServer silent;
        silent.greeting.clear();
        silent.start();
        save(smtpSettings(silent.port()));
        page_->show();
        click(page_.get(), "emailTestLink");
        auto* sheet = shown(page_.get(), "emailTest");
        QTest::keyClicks(child(sheet, "recipientField"), "ops@example.com");
        click(sheet, "addRecipient");
        click(sheet, "saveButton");
        QTRY_VERIFY_WITH_TIMEOUT(silent.connections() > 0, 10000);
        auto* message = child<QLabel>(sheet, "saveMessage");
        QVERIFY(!child(sheet, "saveButton")->isEnabled());

        // The daemon takes another command while the dialogue runs.
        bool saved = false;
        link_->saveSettings({{"popupEvents", 3}}, [&](const QString& failure) { saved = failure.isEmpty(); });
        QTRY_VERIFY_WITH_TIMEOUT(saved, 4000);
        QVERIFY2(message->text().startsWith(QStringLiteral("Sending")), qPrintable(message->text()));
        QTRY_VERIFY_WITH_TIMEOUT(message->text().contains(QStringLiteral("no greeting from the server")), 20000);
    }

    void anActionMadeInTheEditorRunsAndMailsForMatchingEventsOnly()
    {
        test::TempDir dir;
        test::AiosmtpdServer smtpd(dir, test::AiosmtpdServer::Mode::Plain, nullptr);
        QVERIFY(smtpd.port());
        const std::string script = dir.file("record.sh"), out = dir.file("runs.txt");
        test::writeFile(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + out + "'\n", 0755);
        save(smtpSettings(smtpd.port()));
        page_->show();
        click(page_.get(), "emailFormatLink");
        auto* format = shown(page_.get(), "emailFormat");
        child<QLineEdit>(format, "formatSubject")->setText(QStringLiteral("Alert: $message ($priority)"));
        click(format, "saveButton");
        QVERIFY(closed(page_.get(), "emailFormat"));

        click(page_.get(), "addAction");
        auto* editor = shown<ActionView>(page_.get(), "actionView");
        child<QLineEdit>(editor, "filterName")->setText(QStringLiteral("Errors"));
        auto* severity = child<QComboBox>(editor, "filterSeverity");
        severity->setCurrentIndex(severity->findText(QStringLiteral("Error")));
        click(editor, "actionRun");
        auto* run = shown(editor, "commandRun");
        QTest::keyClicks(child(run, "commandField"), QString::fromStdString(script));
        QTest::keyClicks(child(run, "argumentsField"), "$priority|$host|$message");
        click(run, "saveButton");
        click(editor, "actionEmail");
        auto* mail = shown(editor, "commandEmail");
        // Enter adds each address and leaves the sheet open.
        QTest::keyClicks(child(mail, "recipientField"), "ops@example.com");
        QTest::keyClick(child(mail, "recipientField"), Qt::Key_Return);
        QVERIFY(mail->isVisible());
        QCOMPARE(child<QListWidget>(mail, "recipientsList")->count(), 1);
        click(mail, "saveButton");
        click(editor, "actionEvent");
        auto* event = shown(editor, "commandEvent");
        QTest::keyClicks(child(event, "formatText"), "Brantwell saw $message");
        click(event, "saveButton");
        QVERIFY(closed(editor, "commandEvent"));
        click(editor, "saveButton");
        savePage();
        QTRY_COMPARE_WITH_TIMEOUT(fileKey("actionsArray").size(), 1u, 5000);
        QCOMPARE(fileKey("actionsArray")[0]["setEvent"], json({{"Type", "Default"}, {"Format", "Brantwell saw $message"}}));

        test::UdpSender sender;
        sender.send(daemon_->port(), "<11>disk failure, sector 7");  // User.Error
        sender.send(daemon_->port(), "<14>all is well");             // User.Informational
        sender.send(daemon_->port(), "<11>fence");
        QTRY_COMPARE_WITH_TIMEOUT(smtpd.messages().size(), 2u, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(test::readFile(out)).count(QLatin1Char('\n')), 2, 10000);
        // The order of two programs is the order they started in.
        QStringList runs = QString::fromStdString(test::readFile(out)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        runs.sort();
        QCOMPARE(runs, QStringList({"User.Error|127.0.0.1|disk failure, sector 7", "User.Error|127.0.0.1|fence"}));
        QStringList subjects;
        for (const auto& m : smtpd.messages()) {
            const std::string data = m["data"];
            const auto at = data.find("Subject: ");
            subjects << QString::fromStdString(data.substr(at, data.find("\r\n", at) - at));
            QCOMPARE(m["rcpt_tos"], json::array({"ops@example.com"}));
        }
        subjects.sort();
        QCOMPARE(subjects, QStringList({"Subject: Alert: disk failure, sector 7 (User.Error)",
                                        "Subject: Alert: fence (User.Error)"}));
    }
};

QTEST_MAIN(ToolsViewActionsTest)
#include "ToolsViewActions_test.moc"
