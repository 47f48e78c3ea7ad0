#include "ActionCommandEvent.h"

#include <QFormLayout>

namespace brantwell {

const QStringList& ActionCommandEvent::types()
{
    static const QStringList list{QStringLiteral("Default"), QStringLiteral("Information"), QStringLiteral("Debug"),
                                  QStringLiteral("Error"), QStringLiteral("Fault")};
    return list;
}

ActionCommandEvent::ActionCommandEvent(nlohmann::json& setEvent, QAbstractButton* actionEvent, QWidget* parent)
    : CommandSheet(QStringLiteral("commandEvent"), QStringLiteral("Write to the journal"), setEvent, actionEvent,
                   parent)
{
    auto* rows = new QFormLayout;
    rows->setSpacing(form::kRowSpacing);
    type_ = new QComboBox(this);
    type_->setObjectName(QStringLiteral("typeList"));
    type_->addItems(types());
    rows->addRow(QStringLiteral("&Type:"), type_);
    format_ = new QPlainTextEdit(this);
    format_->setObjectName(QStringLiteral("formatText"));
    format_->setTabChangesFocus(true);
    format_->setMinimumSize(320, 90);
    rows->addRow(QStringLiteral("Te&xt:"), format_);
    body()->addLayout(rows);
    body()->addWidget(placeholderNote(this));

    // A type the list does not know reads as the first entry.
    type_->setCurrentIndex(std::max(0, type_->findText(commandText(dictionary_, "Type"))));
    format_->setPlainText(commandText(dictionary_, "Format"));
}

bool ActionCommandEvent::onSave()
{
    // No text, no journal entry: the chosen type is not kept either.
    if (format_->toPlainText().isEmpty())
        dictionary_ = nlohmann::json::object();
    else
        dictionary_ = {{"Type", type_->currentText().toStdString()},
                       {"Format", format_->toPlainText().toStdString()}};
    return true;
}

} // namespace brantwell
