// What the three command sheets of the action editor share: each edits one
// of the editor's working dictionaries, and however it closes (Save,
// Cancel, Escape) the editor's box for that command shows whether the
// dictionary now holds a command. So a box ticked and then cancelled goes
// off again, and a box stays on when Cancel leaves an earlier command.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QPointer>

#include <nlohmann/json.hpp>

#include "EditorPage.h"

namespace brantwell {

class CommandSheet : public EditorDialog {
    Q_OBJECT
public:
    CommandSheet(const QString& objectName, const QString& title, nlohmann::json& dictionary,
                 QAbstractButton* box, QWidget* parent);

    void done(int result) override;

protected:
    nlohmann::json& dictionary_;

private:
    QPointer<QAbstractButton> box_;
};

// The line under a text field that may hold placeholders.
QLabel* placeholderNote(QWidget* parent);

// A text value of a command dictionary, or empty.
QString commandText(const nlohmann::json& dictionary, std::string_view key);

} // namespace brantwell
