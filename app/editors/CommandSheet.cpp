#include "CommandSheet.h"

#include "SettingsValue.h"

namespace brantwell {

CommandSheet::CommandSheet(const QString& objectName, const QString& title, nlohmann::json& dictionary,
                           QAbstractButton* box, QWidget* parent)
    : EditorDialog(objectName, title, parent), dictionary_(dictionary), box_(box)
{
    // A stored value that is no dictionary holds no command.
    if (!dictionary_.is_object())
        dictionary_ = nlohmann::json::object();
}

void CommandSheet::done(int result)
{
    EditorDialog::done(result);
    if (box_)
        box_->setChecked(!dictionary_.empty());
}

QLabel* placeholderNote(QWidget* parent)
{
    auto* note = new QLabel(QStringLiteral("The text may use $host, $date, $priority, $message and $suppressed; "
                                           "each is replaced by the event's value."),
                            parent);
    note->setObjectName(QStringLiteral("placeholderNote"));
    note->setWordWrap(true);
    note->setForegroundRole(QPalette::PlaceholderText);
    return note;
}

QString commandText(const nlohmann::json& dictionary, std::string_view key)
{
    return QString::fromStdString(recordText(dictionary, key).value_or(""));
}

} // namespace brantwell
