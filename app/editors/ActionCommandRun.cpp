#include "ActionCommandRun.h"

#include <QFileInfo>

#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollBar>

namespace brantwell {

ActionCommandRun::ActionCommandRun(nlohmann::json& runCommand, QAbstractButton* actionRun, QWidget* parent)
    : CommandSheet(QStringLiteral("commandRun"), QStringLiteral("Run a program"), runCommand, actionRun, parent)
{
    auto* rows = new QFormLayout;
    rows->setSpacing(form::kRowSpacing);
    command_ = new QLineEdit(this);
    command_->setObjectName(QStringLiteral("commandField"));
    command_->setPlaceholderText(QStringLiteral("/usr/bin/program"));
    command_->setMinimumWidth(320);
    auto* browse = new QPushButton(QStringLiteral("&Browse…"), this);
    browse->setObjectName(QStringLiteral("browseButton"));
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, &ActionCommandRun::browseCommand);
    auto* commandRow = new QHBoxLayout;
    commandRow->setSpacing(form::kRowSpacing);
    commandRow->addWidget(command_, 1);
    commandRow->addWidget(browse);
    rows->addRow(form::rowLabel(QStringLiteral("&Program:"), command_, this), commandRow);

    arguments_ = new QLineEdit(this);
    arguments_->setObjectName(QStringLiteral("argumentsField"));
    arguments_->setToolTip(QStringLiteral("Given to the program as one argument"));
    rows->addRow(QStringLiteral("&Argument:"), arguments_);

    environment_ = new QPlainTextEdit(this);
    environment_->setObjectName(QStringLiteral("environmentText"));
    environment_->setPlaceholderText(QStringLiteral("NAME:value, one a line"));
    environment_->setTabChangesFocus(true);
    environment_->setMinimumHeight(90);
    rows->addRow(QStringLiteral("&Environment:"), environment_);
    body()->addLayout(rows);
    auto* note = placeholderNote(this);
    note->setText(QStringLiteral("The argument may use $host, $date, $priority, $message and $suppressed (the "
                                 "events held back by the action's limit); each is replaced by the event's value. With an environment, the program gets exactly those "
                                 "variables."));
    body()->addWidget(note);

    command_->setText(commandText(dictionary_, "Command"));
    arguments_->setText(commandText(dictionary_, "Arguments"));
    environment_->setPlainText(commandText(dictionary_, "Environment"));
    setTabOrder(command_, browse);
    setTabOrder(browse, arguments_);
    setTabOrder(arguments_, environment_);
}

void ActionCommandRun::showEvent(QShowEvent* event)
{
    CommandSheet::showEvent(event);
    environment_->verticalScrollBar()->setValue(0);
    setFocus(Qt::OtherFocusReason);
}

void ActionCommandRun::browseCommand()
{
    const auto path = form::chooseFile(this, form::FileChoice::Open, QStringLiteral("Program"),
                                       QStringLiteral("Please select command file path:"),
                                       {QStringLiteral("Any file (*)")}, QStringLiteral("/usr/bin"));
    if (path)
        command_->setText(*path);
}

bool ActionCommandRun::onSave()
{
    // Without a program there is no command, whatever else was typed.
    if (command_->text().isEmpty()) {
        dictionary_ = nlohmann::json::object();
        return true;
    }
    // The daemon starts the program by its path, without a search.
    const QFileInfo program(command_->text());
    if (!program.isFile() || !program.isExecutable()) {
        const QString why = program.exists() ? QStringLiteral("The program \"%1\" cannot be run (it is no executable file).")
                                             : QStringLiteral("The program \"%1\" does not exist.");
        if (!form::saveDespite(this, {why.arg(command_->text())}))
            return false;
    }
    dictionary_ = {{"Command", command_->text().toStdString()},
                   {"Arguments", arguments_->text().toStdString()},
                   {"Environment", environment_->toPlainText().toStdString()}};
    return true;
}

} // namespace brantwell
