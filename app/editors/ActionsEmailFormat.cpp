#include "ActionsEmailFormat.h"

#include <QLabel>
#include <QScrollBar>
#include <QVBoxLayout>

#include "CommandSheet.h"
#include "SettingsKeys.h"
#include "SettingsValue.h"

namespace brantwell {

QString bodyForEditing(const std::string& stored)
{
    QString text = QString::fromStdString(stored);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

std::string bodyForStoring(const QString& edited)
{
    // Lone CRs and LFs both become CR LF: SMTP servers refuse bare line ends.
    QString text = edited;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return text.toStdString();
}

ActionsEmailFormat::ActionsEmailFormat(EditorContext context, QWidget* parent)
    : EmailSheet(QStringLiteral("emailFormat"), QStringLiteral("E-mail format"), std::move(context), parent)
{
    sendSubject = new QCheckBox(QStringLiteral("Su&bject:"), this);
    sendSubject->setObjectName(QStringLiteral("sendSubject"));
    formatSubject = new QLineEdit(this);
    formatSubject->setObjectName(QStringLiteral("formatSubject"));
    formatSubject->setMinimumWidth(380);
    sendBody = new QCheckBox(QStringLiteral("&Text:"), this);
    sendBody->setObjectName(QStringLiteral("sendBody"));
    formatBody = new QPlainTextEdit(this);
    formatBody->setObjectName(QStringLiteral("formatBody"));
    formatBody->setTabChangesFocus(true);
    formatBody->setMinimumHeight(130);
    body()->addWidget(sendSubject);
    body()->addWidget(formatSubject);
    body()->addWidget(sendBody);
    body()->addWidget(formatBody, 1);
    auto* note = placeholderNote(this);
    note->setText(QStringLiteral("Subject and text may use $host, $date, $priority, $message and $suppressed (the "
                                 "events held back by the action's limit); each is replaced by the event's value. Every action's e-mail uses them."));
    body()->addWidget(note);
    connect(sendSubject, &QCheckBox::clicked, this, &ActionsEmailFormat::sendSubjectChanged);
    connect(sendBody, &QCheckBox::clicked, this, &ActionsEmailFormat::sendBodyChanged);

    // The defaults only when there is no settings file at all; a file
    // without a template shows that part off.
    std::string subject{kDefaultSubject}, text{kDefaultBody};
    if (stored()) {
        subject = readString(*stored(), key::actionsFormatSubject).value_or("");
        text = readString(*stored(), key::actionsFormatBody).value_or("");
    }
    formatSubject->setText(QString::fromStdString(subject));
    formatBody->setPlainText(bodyForEditing(text));
    sendSubject->setChecked(!subject.empty());
    sendBody->setChecked(!text.empty());
    sendSubjectChanged();
    sendBodyChanged();
    setTabOrder(sendSubject, formatSubject);
    setTabOrder(formatSubject, sendBody);
    setTabOrder(sendBody, formatBody);
}

void ActionsEmailFormat::showEvent(QShowEvent* event)
{
    EmailSheet::showEvent(event);
    formatBody->verticalScrollBar()->setValue(0);
    setFocus(Qt::OtherFocusReason);
}

void ActionsEmailFormat::sendSubjectChanged()
{
    const bool on = sendSubject->isChecked();
    formatSubject->setEnabled(on);
    if (on)
        formatSubject->setFocus(Qt::OtherFocusReason);
    else
        formatSubject->clear();
}

void ActionsEmailFormat::sendBodyChanged()
{
    const bool on = sendBody->isChecked();
    formatBody->setReadOnly(!on);
    formatBody->setEnabled(on);
    if (on)
        formatBody->setFocus(Qt::OtherFocusReason);
    else
        formatBody->clear();
}

void ActionsEmailFormat::storeSettings(nlohmann::json& settings) const
{
    settings[std::string(key::actionsFormatSubject)] = formatSubject->text().toStdString();
    settings[std::string(key::actionsFormatBody)] = bodyForStoring(formatBody->toPlainText());
}

} // namespace brantwell
