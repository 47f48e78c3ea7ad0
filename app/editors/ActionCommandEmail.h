// The e-mail sheet of the action editor: who gets the mail. Subject and
// body are the same for every action (the e-mail format sheet).
#pragma once

#include "CommandSheet.h"
#include "RecipientsList.h"

namespace brantwell {

class ActionCommandEmail final : public CommandSheet {
    Q_OBJECT
public:
    ActionCommandEmail(nlohmann::json& sendEmail, QAbstractButton* actionEmail, QWidget* parent);

protected:
    // With no recipients: the alert, and the sheet stays open unchanged.
    bool onSave() override;

private:
    RecipientsList* recipients_ = nullptr;
};

// The addresses of a "Recipients" value: its strings, in order.
QStringList recipientAddresses(const nlohmann::json& dictionary);

} // namespace brantwell
