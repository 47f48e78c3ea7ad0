// The SMTP server the e-mails go through: host, port, sender, user name and
// password, security and the time allowed for each server reply.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>

#include "EmailSheet.h"

namespace brantwell {

class ActionsEmailServer final : public EmailSheet {
    Q_OBJECT
public:
    static constexpr int kSliderMinutes = 60;  // the slider's end; the field goes further

    ActionsEmailServer(EditorContext context, QWidget* parent);

    // "None", then "SSL" (the one value that makes the daemon use TLS).
    static const QStringList& securityEntries();

    void timeoutChanged(int minutes);

protected:
    void storeSettings(nlohmann::json& settings) const override;
    QStringList saveWarnings() const override;
    QString saveRefusal() const override;

private:
    std::int64_t iEmailPort = 25;
    std::int64_t iEmailTimeout = 1;
    QLineEdit* emailServer = nullptr;
    PortField* portField = nullptr;
    QLineEdit* emailSender = nullptr;
    QLineEdit* emailUsername = nullptr;
    QLineEdit* emailPassword = nullptr;
    QComboBox* emailSecurity = nullptr;
    QSpinBox* timeoutField = nullptr;
    QSlider* timeoutSlider = nullptr;
};

} // namespace brantwell
