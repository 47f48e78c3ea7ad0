#include "ActionsEmailTest.h"

#include <QLabel>
#include <QPointer>

#include "DateFormat.h"
#include "SettingsKeys.h"
#include "SettingsValue.h"
#include "common/AppSettings.h"
#include "events/DaemonLink.h"

namespace brantwell {

namespace {

// Each placeholder in turn, in this order, on the result of the one before.
std::string fillTestValues(const std::string& text, const std::string& dateText)
{
    QString out = QString::fromStdString(text);
    out.replace(QStringLiteral("$host"), QStringLiteral("127.0.0.1"));
    out.replace(QStringLiteral("$date"), QString::fromStdString(dateText));
    out.replace(QStringLiteral("$priority"), QStringLiteral("Local7.Debug"));
    out.replace(QStringLiteral("$suppressed"), QStringLiteral("0"));
    out.replace(QStringLiteral("$message"), QStringLiteral("Brantwell - Test message"));
    return out.toStdString();
}

} // namespace

nlohmann::json testEmailCommand(const QStringList& recipients, const std::optional<nlohmann::json>& settings,
                                const std::string& dateText)
{
    nlohmann::json command = nlohmann::json::object();
    command["command"] = "email";
    nlohmann::json list = nlohmann::json::array();
    for (const auto& r : recipients)
        list.push_back(r.toStdString());
    command["Recipients"] = list;
    const nlohmann::json none = nlohmann::json::object();
    const auto subject = readString(settings.value_or(none), key::actionsFormatSubject);
    if (!subject)
        return command;
    command["Subject"] = fillTestValues(*subject, dateText);
    const auto body = readString(settings.value_or(none), key::actionsFormatBody);
    if (!body)
        return command;
    command["Body"] = fillTestValues(*body, dateText);
    command["Html"] = false;
    return command;
}

std::string testDateText(const std::string& newDateFormat, std::time_t now)
{
    return DateFormatter(newDateFormat).format(static_cast<double>(now));
}

ActionsEmailTest::ActionsEmailTest(EditorContext context, std::string newDateFormat, QWidget* parent)
    : EditorDialog(QStringLiteral("emailTest"), QStringLiteral("Test e-mail"), parent, QStringLiteral("Se&nd")),
      context_(std::move(context)), newDateFormat_(std::move(newDateFormat))
{
    recipients_ = new RecipientsList(this);
    body()->addWidget(recipients_, 1);
    auto* note = new QLabel(QStringLiteral("The test uses the saved server and format, with host 127.0.0.1, "
                                           "priority Local7.Debug and the message \"Brantwell - Test message\"."),
                            this);
    note->setObjectName(QStringLiteral("testNote"));
    note->setWordWrap(true);
    note->setForegroundRole(QPalette::PlaceholderText);
    body()->addWidget(note);
    setMinimumWidth(440);
}

bool ActionsEmailTest::onSave()
{
    if (sending_)
        return false;
    const QStringList addresses = recipients_->addresses();
    if (!haveRecipients(addresses, this))
        return false;
    if (!context_.link) {
        buttons()->showFailure(QStringLiteral("Not sent: there is no link to BrantwellSrv."));
        return false;
    }
    // The saved templates, not what the format sheet may show unsaved.
    const auto command =
        testEmailCommand(addresses, readSettings(context_.dataDir), testDateText(newDateFormat_));
    sending_ = true;
    buttons()->save()->setEnabled(false);
    buttons()->showProgress(QStringLiteral("Sending the test message…"));
    QPointer<ActionsEmailTest> self(this);
    context_.link->request(command.dump(), kAnswerWaitMs, this, [self](bool ok, const QString& text) {
        if (!self)
            return;
        self->sending_ = false;
        self->buttons()->save()->setEnabled(true);
        self->buttons()->cancel()->setText(QStringLiteral("&Close"));
        if (ok)
            self->buttons()->showProgress(QStringLiteral("The mail server accepted the test message."));
        else
            self->buttons()->showFailure(QStringLiteral("The test message was not sent: %1").arg(text));
    });
    return false;  // stays open to show how it went
}

} // namespace brantwell
