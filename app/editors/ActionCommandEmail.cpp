#include "ActionCommandEmail.h"

#include <QLabel>

namespace brantwell {

QStringList recipientAddresses(const nlohmann::json& dictionary)
{
    QStringList out;
    if (!dictionary.is_object())
        return out;
    const auto it = dictionary.find("Recipients");
    if (it == dictionary.end() || !it->is_array())
        return out;
    for (const auto& r : *it)
        if (r.is_string())
            out << QString::fromStdString(r.get<std::string>());
    return out;
}

ActionCommandEmail::ActionCommandEmail(nlohmann::json& sendEmail, QAbstractButton* actionEmail, QWidget* parent)
    : CommandSheet(QStringLiteral("commandEmail"), QStringLiteral("Send an e-mail"), sendEmail, actionEmail, parent)
{
    recipients_ = new RecipientsList(this);
    body()->addWidget(recipients_, 1);
    auto* note = new QLabel(QStringLiteral("Subject and text are those of the e-mail format, the same for every "
                                           "action."),
                            this);
    note->setWordWrap(true);
    note->setForegroundRole(QPalette::PlaceholderText);
    body()->addWidget(note);
    recipients_->setAddresses(recipientAddresses(dictionary_));
    setMinimumWidth(420);
}

bool ActionCommandEmail::onSave()
{
    const QStringList addresses = recipients_->addresses();
    if (!haveRecipients(addresses, this))
        return false;
    nlohmann::json list = nlohmann::json::array();
    for (const auto& a : addresses)
        list.push_back(a.toStdString());
    dictionary_ = {{"Recipients", list}};
    return true;
}

} // namespace brantwell
