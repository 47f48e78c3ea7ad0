#include "ActionsEmailServer.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>

#include "SettingsKeys.h"
#include "SettingsValue.h"

namespace brantwell {

namespace {
constexpr int kMaxTimeoutMinutes = 24 * 60;  // what the daemon waits at most
}

const QStringList& ActionsEmailServer::securityEntries()
{
    static const QStringList entries{QStringLiteral("None"), QStringLiteral("SSL")};
    return entries;
}

ActionsEmailServer::ActionsEmailServer(EditorContext context, QWidget* parent)
    : EmailSheet(QStringLiteral("emailServer"), QStringLiteral("E-mail server"), std::move(context), parent)
{
    auto* rows = new QFormLayout;
    rows->setSpacing(form::kRowSpacing);
    auto line = [this](const char* name, const QString& placeholder) {
        auto* f = new QLineEdit(this);
        f->setObjectName(QString::fromLatin1(name));
        f->setPlaceholderText(placeholder);
        return f;
    };
    emailServer = line("emailServer", QStringLiteral("smtp.example.com"));
    emailServer->setMinimumWidth(260);
    portField = new PortField(QStringLiteral("emailPort"), 1, this);
    portField->setToolTip(QStringLiteral("25, 587 for STARTTLS, 465 for TLS from the start"));
    auto* serverRow = new QHBoxLayout;
    serverRow->setSpacing(form::kRowSpacing);
    serverRow->addWidget(emailServer, 1);
    auto* portLabel = new QLabel(QStringLiteral("P&ort:"), this);
    portLabel->setBuddy(portField);
    serverRow->addWidget(portLabel);
    serverRow->addWidget(portField);
    rows->addRow(form::rowLabel(QStringLiteral("Ser&ver:"), emailServer, this), serverRow);
    emailSender = line("emailSender", QStringLiteral("brantwell@example.com"));
    rows->addRow(QStringLiteral("Se&nder:"), emailSender);
    emailUsername = line("emailUsername", QString());
    rows->addRow(QStringLiteral("&User name:"), emailUsername);
    emailPassword = line("emailPassword", QString());
    emailPassword->setEchoMode(QLineEdit::Password);
    rows->addRow(QStringLiteral("&Password:"), emailPassword);
    emailSecurity = new QComboBox(this);
    emailSecurity->setObjectName(QStringLiteral("emailSecurity"));
    emailSecurity->addItems(securityEntries());
    emailSecurity->setToolTip(QStringLiteral("SSL: TLS from the start, or by STARTTLS; the mail is not sent "
                                             "in plain text"));
    rows->addRow(QStringLiteral("Securit&y:"), emailSecurity);

    timeoutField = new QSpinBox(this);
    timeoutField->setObjectName(QStringLiteral("emailTimeout"));
    timeoutField->setRange(1, kMaxTimeoutMinutes);
    timeoutField->setSuffix(QStringLiteral(" min"));
    timeoutSlider = new QSlider(Qt::Horizontal, this);
    timeoutSlider->setObjectName(QStringLiteral("timeoutSlider"));
    timeoutSlider->setRange(1, kSliderMinutes);
    timeoutSlider->setMinimumWidth(160);
    auto* timeoutRow = new QHBoxLayout;
    timeoutRow->setSpacing(form::kRowSpacing);
    timeoutRow->addWidget(timeoutField);
    timeoutRow->addWidget(timeoutSlider, 1);
    rows->addRow(form::rowLabel(QStringLiteral("&Time-out:"), timeoutField, this), timeoutRow);
    body()->addLayout(rows);
    auto* note = new QLabel(QStringLiteral("The time-out is how long the server may take for each reply."), this);
    note->setWordWrap(true);
    note->setForegroundRole(QPalette::PlaceholderText);
    body()->addWidget(note);
    connect(timeoutSlider, &QSlider::valueChanged, this, &ActionsEmailServer::timeoutChanged);
    connect(timeoutField, &QSpinBox::valueChanged, this, [this](int minutes) {
        const QSignalBlocker quiet(timeoutSlider);
        timeoutSlider->setValue(std::min(minutes, kSliderMinutes));
    });

    const nlohmann::json settings = stored().value_or(nlohmann::json::object());
    // 0 (or a value no port or time-out can be) shows the default.
    iEmailPort = readInteger(settings, key::actionsEmailPort).value_or(0);
    if (iEmailPort < 1 || iEmailPort > 65535)
        iEmailPort = kDefaultEmailPort;
    iEmailTimeout = readInteger(settings, key::actionsEmailTimeout).value_or(0);
    if (iEmailTimeout < 1)
        iEmailTimeout = kDefaultEmailTimeout;
    portField->setValue(static_cast<int>(iEmailPort));
    timeoutField->setValue(static_cast<int>(std::min<std::int64_t>(iEmailTimeout, kMaxTimeoutMinutes)));
    const auto text = [&settings](std::string_view key) {
        return QString::fromStdString(readString(settings, key).value_or(""));
    };
    emailServer->setText(text(key::actionsEmailServer));
    emailSender->setText(text(key::actionsEmailSender));
    emailUsername->setText(text(key::actionsEmailUsername));
    emailPassword->setText(text(key::actionsEmailPassword));
    emailSecurity->setCurrentIndex(std::max(0, emailSecurity->findText(text(key::actionsEmailSecurity))));

    setTabOrder(emailServer, portField);
    setTabOrder(portField, emailSender);
    setTabOrder(emailSender, emailUsername);
    setTabOrder(emailUsername, emailPassword);
    setTabOrder(emailPassword, emailSecurity);
    setTabOrder(emailSecurity, timeoutField);
    setTabOrder(timeoutField, timeoutSlider);
}

void ActionsEmailServer::timeoutChanged(int minutes)
{
    timeoutField->setValue(minutes);
}

QStringList ActionsEmailServer::saveWarnings() const
{
    if (emailServer->text().trimmed().isEmpty())
        return {QStringLiteral("No mail server is set: no e-mail can be sent, neither by actions nor as a test.")};
    return {};
}

QString ActionsEmailServer::saveRefusal() const
{
    return portField->problem(QStringLiteral("Port"));
}

void ActionsEmailServer::storeSettings(nlohmann::json& settings) const
{
    settings[std::string(key::actionsEmailPort)] = portField->value();
    settings[std::string(key::actionsEmailTimeout)] = timeoutField->value();
    settings[std::string(key::actionsEmailServer)] = emailServer->text().toStdString();
    settings[std::string(key::actionsEmailSender)] = emailSender->text().toStdString();
    settings[std::string(key::actionsEmailUsername)] = emailUsername->text().toStdString();
    settings[std::string(key::actionsEmailPassword)] = emailPassword->text().toStdString();
    settings[std::string(key::actionsEmailSecurity)] = emailSecurity->currentText().toStdString();
}

} // namespace brantwell
