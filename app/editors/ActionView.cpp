#include "ActionView.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>

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
    // As in the filter editor: a record the daemon cannot use is not saved.
    connect(fields_, &FilterFields::validityChanged, buttons()->save(), &QPushButton::setEnabled);
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
    actionRun = row(0, "actionRun", QStringLiteral("&Run a program"), "actionRunText", QStringLiteral("&Program…"),
                    &ActionView::commandRun, &ActionView::commandRunText);
    actionEmail = row(1, "actionEmail", QStringLiteral("Send an &e-mail"), "actionEmailText",
                      QStringLiteral("Recip&ients…"), &ActionView::commandEmail, &ActionView::commandEmailText);
    actionEvent = row(2, "actionEvent", QStringLiteral("&Write to the journal"), "actionEventText",
                      QStringLiteral("Entr&y…"), &ActionView::commandEvent, &ActionView::commandEventText);
    grid->setColumnStretch(2, 1);
    body()->addWidget(commands);

    // A flapping device should not mail a few hundred times a minute: the
    // events beyond the limit are counted and told with the next run.
    auto* often = new QGroupBox(QStringLiteral("How often"), this);
    auto* oftenLayout = new QVBoxLayout(often);
    auto* limitRow = new QHBoxLayout;
    limit_ = new QCheckBox(QStringLiteral("&Limit: at most"), often);
    limit_->setObjectName(QStringLiteral("actionLimit"));
    limitCount_ = new QSpinBox(often);
    limitCount_->setObjectName(QStringLiteral("actionLimitCount"));
    limitCount_->setRange(1, 100000);
    limitCount_->setAccessibleName(QStringLiteral("Runs at most"));
    auto* per = new QLabel(QStringLiteral("times per"), often);
    limitPeriod_ = new QSpinBox(often);
    limitPeriod_->setObjectName(QStringLiteral("actionLimitPeriod"));
    limitPeriod_->setRange(1, 100000);
    limitPeriod_->setAccessibleName(QStringLiteral("Period"));
    limitUnit_ = new QComboBox(often);
    limitUnit_->setObjectName(QStringLiteral("actionLimitUnit"));
    limitUnit_->addItem(QStringLiteral("seconds"), 1);
    limitUnit_->addItem(QStringLiteral("minutes"), 60);
    limitUnit_->addItem(QStringLiteral("hours"), 3600);
    limitUnit_->setAccessibleName(QStringLiteral("Period unit"));
    for (QWidget* w : {static_cast<QWidget*>(limitCount_), static_cast<QWidget*>(limitPeriod_),
                       static_cast<QWidget*>(limitUnit_)})
        w->setFocusPolicy(Qt::StrongFocus);  // the wheel scrolls the form, not a field passed over
    limitRow->addWidget(limit_);
    limitRow->addWidget(limitCount_);
    limitRow->addWidget(per);
    limitRow->addWidget(limitPeriod_);
    limitRow->addWidget(limitUnit_);
    limitRow->addStretch(1);
    oftenLayout->addLayout(limitRow);
    auto* note = new QLabel(QStringLiteral("Matching events beyond the limit are counted, not run; the next run "
                                           "tells how many ($suppressed), and a mail says so in a last line."),
                            often);
    note->setWordWrap(true);
    note->setForegroundRole(QPalette::PlaceholderText);
    oftenLayout->addWidget(note);
    connect(limit_, &QCheckBox::toggled, this, [this](bool on) {
        limitCount_->setEnabled(on);
        limitPeriod_->setEnabled(on);
        limitUnit_->setEnabled(on);
    });
    body()->addWidget(often);
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
    showLimit();
    setMinimumWidth(520);
}

void ActionView::showLimit()
{
    const auto number = [this](const char* key) -> std::int64_t {
        const auto it = result_.find(key);
        return it != result_.end() && it->is_number_integer() ? it->get<std::int64_t>() : 0;
    };
    const std::int64_t count = number("ThrottleCount"), seconds = number("ThrottleSeconds");
    const bool on = count > 0 && seconds > 0;
    limit_->setChecked(on);
    limitCount_->setValue(on ? static_cast<int>(std::min<std::int64_t>(count, limitCount_->maximum())) : 10);
    // The largest unit the period is a whole number of.
    int unit = 0;
    if (on && seconds % 3600 == 0)
        unit = 2;
    else if (on && seconds % 60 == 0)
        unit = 1;
    else if (!on)
        unit = 1;  // a new limit starts at "10 times per 1 minute"
    limitUnit_->setCurrentIndex(unit);
    const std::int64_t period = on ? seconds / limitUnit_->currentData().toInt() : 1;
    limitPeriod_->setValue(static_cast<int>(std::min<std::int64_t>(period, limitPeriod_->maximum())));
    limitCount_->setEnabled(on);
    limitPeriod_->setEnabled(on);
    limitUnit_->setEnabled(on);
}

void ActionView::writeLimit()
{
    if (!limit_->isChecked()) {
        result_.erase("ThrottleCount");
        result_.erase("ThrottleSeconds");
        return;
    }
    result_["ThrottleCount"] = limitCount_->value();
    result_["ThrottleSeconds"] = static_cast<std::int64_t>(limitPeriod_->value()) * limitUnit_->currentData().toInt();
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
    if (!fields_->isValid())
        return false;
    fields_->writeInto(result_);
    result_["runCommand"] = runCommand;
    result_["sendEmail"] = sendEmail;
    result_["setEvent"] = setEvent;
    writeLimit();
    return true;
}

} // namespace brantwell
