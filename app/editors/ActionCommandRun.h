// The run-command sheet of the action editor: the program to start, its one
// argument and its environment (lines of name:value).
#pragma once

#include <QLineEdit>
#include <QPlainTextEdit>

#include "CommandSheet.h"

namespace brantwell {

class ActionCommandRun final : public CommandSheet {
    Q_OBJECT
public:
    ActionCommandRun(nlohmann::json& runCommand, QAbstractButton* actionRun, QWidget* parent);

    // The file dialog, opening in /usr/bin; the chosen path replaces the
    // command field's text.
    void browseCommand();

protected:
    bool onSave() override;
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* command_ = nullptr;
    QLineEdit* arguments_ = nullptr;
    QPlainTextEdit* environment_ = nullptr;
};

} // namespace brantwell
