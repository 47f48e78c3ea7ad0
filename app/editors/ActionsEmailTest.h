// Sends a test e-mail through the daemon with the saved server settings and
// templates, the placeholders filled with sample values, and shows how the
// SMTP dialogue ended.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include <QStringList>

#include "EditorPage.h"
#include "RecipientsList.h"

namespace brantwell {

// The "email" command of a test: the keys in order, ending before the first
// one without a value (no subject: only the recipients; no body: up to the
// subject). The placeholders of the saved templates get the test values;
// `dateText` is the current date as the display shows it.
nlohmann::json testEmailCommand(const QStringList& recipients, const std::optional<nlohmann::json>& settings,
                                const std::string& dateText);

// The current date in the display format `newDateFormat` (empty: the
// system's short date and medium time).
std::string testDateText(const std::string& newDateFormat, std::time_t now = std::time(nullptr));

class ActionsEmailTest final : public EditorDialog {
    Q_OBJECT
public:
    // Long enough for a slow server: each of its replies may take minutes.
    static constexpr int kAnswerWaitMs = 60 * 60 * 1000;

    ActionsEmailTest(EditorContext context, std::string newDateFormat, QWidget* parent);

protected:
    bool onSave() override;  // Send

private:
    EditorContext context_;
    std::string newDateFormat_;
    RecipientsList* recipients_ = nullptr;
    bool sending_ = false;
};

} // namespace brantwell
