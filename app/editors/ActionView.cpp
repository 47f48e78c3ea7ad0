#include "ActionView.h"

#include <QGridLayout>
#include <QGroupBox>

#include "ActionCommandEmail.h"
#include "ActionCommandEvent.h"
#include "ActionCommandRun.h"

namespace brantwell {

namespace {

nlohmann::json commandOf(const nlohmann::json& record, const char* key)
{
    if (!record.is_object())
        return nlohmann::json::object();
    const auto it = record.find(key);
    // Anything but a dictionary holds no command.
    return it != record.end() && it->is_object() ? *it : nlohmann::json::object();
}

} // namespace

ActionViewLink::ActionViewLink(const QString& objectName, const QString& text, QWidget* parent)
    : QPushButton(text, parent)
{
    setObjectName(objectName);
    setFlat(true);
    setAutoDefault(false);
    setCursor(Qt::PointingHandCursor);
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    setStyleSheet(QStringLiteral("QPushButton { color: palette(link); border: none; text-align: left; padding: 2px; }"));
}

ActionView::ActionView(const nlohmann::json* record, QWidget* parent)
    : EditorDialog(QStringLiteral("actionView"), record ? QStringLiteral("Edit action") : QStringLiteral("New action"),
                   parent)
{
    blank_ = new QWidget(this);
    blank_->setObjectName(QStringLiteral("actionBlank"));
    blank_->setFocusPolicy(Qt::StrongFocus);
    blank_->setFixedSize(0, 0);
    body()->addWidget(blank_);

    auto* match = new QGroupBox(QStringLiteral("Events it runs for"), this);
    auto* matchLayout = new QVBoxLayout(match);
    fields_ = new FilterFields(match);
    matchLayout->addWidget(fields_);
    body()->addWidget(match);

    auto* commands = new QGroupBox(QStringLiteral("What it does"), this);
    auto* grid = new QGridLayout(commands);
    grid->setVerticalSpacing(form::kRowSpacing);
    auto row = [&](int r, const char* boxName, const QString& boxText, const char* linkName, const QString& linkText,
                   void (ActionView::*toggled)(bool), void (ActionView::*open)()) {
        auto* box = new QCheckBox(boxText, commands);
        box->setObjectName(QString::fromLatin1(boxName));
        // Only a click switches: the sheets set the box without a click.
        connect(box, &QCheckBox::clicked, this, toggled);
        auto* link = new ActionViewLink(QString::fromLatin1(linkName), linkText, commands);
        connect(link, &QPushButton::clicked, this, open);
        grid->addWidget(box, r, 0);
        grid->addWidget(link, r, 1);
        return box;
    };
    actionRun = row(0, "actionRun", QStringLiteral("&Run a program"), "actionRunText", QStringLiteral("Program…"),
                    &ActionView::commandRun, &ActionView::commandRunText);
    actionEmail = row(1, "actionEmail", QStringLiteral("Send an &e-mail"), "actionEmailText",
                      QStringLiteral("Recipients…"), &ActionView::commandEmail, &ActionView::commandEmailText);
    actionEvent = row(2, "actionEvent", QStringLiteral("&Write to the journal"), "actionEventText",
                      QStringLiteral("Entry…"), &ActionView::commandEvent, &ActionView::commandEventText);
    grid->setColumnStretch(2, 1);
    body()->addWidget(commands);
    body()->addStretch(1);

    if (record) {
        result_ = record->is_object() ? *record : nlohmann::json::object();
        fields_->showRecord(result_);
        runCommand = commandOf(result_, "runCommand");
        sendEmail = commandOf(result_, "sendEmail");
        setEvent = commandOf(result_, "setEvent");
    } else {
        fields_->showNew(QStringLiteral("New Action"));
    }
    actionRun->setChecked(!runCommand.empty());
    actionEmail->setChecked(!sendEmail.empty());
    actionEvent->setChecked(!setEvent.empty());
    setMinimumWidth(520);
}

void ActionView::showEvent(QShowEvent* event)
{
    EditorDialog::showEvent(event);
    blank_->setFocus(Qt::OtherFocusReason);
}

void ActionView::openSheet(QDialog* sheet)
{
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();  // window-modal over the editor
}

void ActionView::commandRun(bool on)
{
    if (!on)
        runCommand = nlohmann::json::object();
    else
        commandRunText();
}

void ActionView::commandRunText()
{
    openSheet(new ActionCommandRun(runCommand, actionRun, this));
}

void ActionView::commandEmail(bool on)
{
    if (!on)
        sendEmail = nlohmann::json::object();
    else
        commandEmailText();
}

void ActionView::commandEmailText()
{
    openSheet(new ActionCommandEmail(sendEmail, actionEmail, this));
}

void ActionView::commandEvent(bool on)
{
    if (!on)
        setEvent = nlohmann::json::object();
    else
        commandEventText();
}

void ActionView::commandEventText()
{
    openSheet(new ActionCommandEvent(setEvent, actionEvent, this));
}

bool ActionView::onSave()
{
    fields_->writeInto(result_);
    result_["runCommand"] = runCommand;
    result_["sendEmail"] = sendEmail;
    result_["setEvent"] = setEvent;
    return true;
}

} // namespace brantwell
