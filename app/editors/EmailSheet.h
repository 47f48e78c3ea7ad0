// The e-mail server and format sheets save the settings themselves: their
// own keys go into the settings file as it is at the moment of saving (so
// that nothing another editor saved meanwhile is lost), and the sheet
// closes once the daemon has taken the save. A later Save of the actions
// page then reads a file that already holds them.
#pragma once

#include <nlohmann/json.hpp>

#include "EditorPage.h"

namespace brantwell {

class EmailSheet : public EditorDialog {
    Q_OBJECT
public:
    EmailSheet(const QString& objectName, const QString& title, EditorContext context, QWidget* parent);

protected:
    // The settings file as read when the sheet was made; nothing when there
    // was none.
    const std::optional<nlohmann::json>& stored() const { return stored_; }
    virtual void storeSettings(nlohmann::json& settings) const = 0;
    // Asked about before the save goes out (see form::saveDespite).
    virtual QStringList saveWarnings() const { return {}; }
    // Why the sheet cannot be saved as it is; shown in place of saving.
    virtual QString saveRefusal() const { return {}; }
    bool onSave() final;

private:
    EditorContext context_;
    std::optional<nlohmann::json> stored_;
    bool saving_ = false;
};

} // namespace brantwell
