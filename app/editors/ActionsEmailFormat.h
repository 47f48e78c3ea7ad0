// The subject and text of every action e-mail, with a box each: a part
// whose box is off is sent empty.
#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "EmailSheet.h"

namespace brantwell {

class ActionsEmailFormat final : public EmailSheet {
    Q_OBJECT
public:
    ActionsEmailFormat(EditorContext context, QWidget* parent);

    void sendSubjectChanged();
    void sendBodyChanged();

protected:
    void storeSettings(nlohmann::json& settings) const override;
    void showEvent(QShowEvent* event) override;

private:
    QCheckBox* sendSubject = nullptr;
    QLineEdit* formatSubject = nullptr;
    QCheckBox* sendBody = nullptr;
    QPlainTextEdit* formatBody = nullptr;
};

// Mail lines end in CR LF; the text field shows them as plain line breaks.
QString bodyForEditing(const std::string& stored);
std::string bodyForStoring(const QString& edited);

} // namespace brantwell
