// The log-event sheet of the action editor: the journal entry's type and
// its text.
#pragma once

#include <QComboBox>
#include <QPlainTextEdit>

#include "CommandSheet.h"

namespace brantwell {

class ActionCommandEvent final : public CommandSheet {
    Q_OBJECT
public:
    ActionCommandEvent(nlohmann::json& setEvent, QAbstractButton* actionEvent, QWidget* parent);

    // "Default", "Information", "Debug", "Error", "Fault".
    static const QStringList& types();

protected:
    bool onSave() override;

private:
    QComboBox* type_ = nullptr;
    QPlainTextEdit* format_ = nullptr;
};

} // namespace brantwell
