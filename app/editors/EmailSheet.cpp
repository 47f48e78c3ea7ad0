#include "EmailSheet.h"

#include <QPointer>

#include "SettingsMerge.h"
#include "common/AppSettings.h"
#include "events/DaemonLink.h"

namespace brantwell {

EmailSheet::EmailSheet(const QString& objectName, const QString& title, EditorContext context, QWidget* parent)
    : EditorDialog(objectName, title, parent), context_(std::move(context)), stored_(readSettings(context_.dataDir))
{
}

bool EmailSheet::onSave()
{
    if (saving_)
        return false;
    if (!context_.link) {
        buttons()->showFailure(QStringLiteral("Not saved: there is no link to BrantwellSrv."));
        return false;
    }
    if (const QString why = saveRefusal(); !why.isEmpty()) {
        buttons()->showFailure(QStringLiteral("Not saved: %1").arg(why));
        return false;
    }
    if (!form::saveDespite(this, saveWarnings()))
        return false;
    const nlohmann::json out = keysForMerge(context_.dataDir, [this](nlohmann::json& s) { storeSettings(s); });
    saving_ = true;
    buttons()->save()->setEnabled(false);
    buttons()->showProgress(QStringLiteral("Saving…"));
    QPointer<EmailSheet> self(this);
    context_.link->mergeSettings(out, [self](const QString& failure) {
        if (!self)
            return;
        self->saving_ = false;
        self->buttons()->save()->setEnabled(true);
        if (!failure.isEmpty()) {
            // What was typed stays, so that the user can try again.
            self->buttons()->showFailure(QStringLiteral("Not saved. %1").arg(failure));
            return;
        }
        self->accept();
    });
    return false;  // closed when the daemon has answered
}

} // namespace brantwell
