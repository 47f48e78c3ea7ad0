#include "ReceptionGroup.h"

#include <QFormLayout>
#include <QLabel>

#include "EditorPage.h"
#include "SettingsKeys.h"
#include "SettingsValue.h"

namespace brantwell {

namespace {

PortField* portField(const QString& objectName, QWidget* parent)
{
    auto* field = new PortField(objectName, 0, parent);
    field->setSpecialValueText(QStringLiteral("Off"));
    field->setFixedWidth(110);
    return field;
}

QLineEdit* fileField(const QString& objectName, const QString& placeholder, QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(objectName);
    field->setPlaceholderText(placeholder);
    return field;
}

void storeIfUsed(nlohmann::json& settings, std::string_view key, const nlohmann::json& value, bool used)
{
    const std::string k(key);
    if (used || (settings.is_object() && settings.contains(k)))
        settings[k] = value;
}

} // namespace

ReceptionGroup::ReceptionGroup(QWidget* parent) : QGroupBox(QStringLiteral("Reception"), parent)
{
    setObjectName(QStringLiteral("reception"));
    auto* layout = new QFormLayout(this);
    layout->setVerticalSpacing(form::kRowSpacing);
    layout->setHorizontalSpacing(form::kRowSpacing * 2);
    tcpPort_ = portField(QStringLiteral("receptionTcpPort"), this);
    tlsPort_ = portField(QStringLiteral("receptionTlsPort"), this);
    certificate_ = fileField(QStringLiteral("receptionTlsCertificate"), QStringLiteral("/etc/brantwell/server.pem"), this);
    key_ = fileField(QStringLiteral("receptionTlsKey"), QStringLiteral("/etc/brantwell/server.key"), this);
    caFile_ = fileField(QStringLiteral("receptionTlsCaFile"),
                        QStringLiteral("Empty: clients need no certificate"), this);
    auto* about = new QLabel(QStringLiteral("UDP is always received. TCP and TLS take RFC 6587 and RFC 5425 frames; "
                                            "the files must be readable by root only."),
                             this);
    about->setWordWrap(true);
    about->setForegroundRole(QPalette::PlaceholderText);
    layout->addRow(about);
    layout->addRow(QStringLiteral("TCP port:"), tcpPort_);
    layout->addRow(QStringLiteral("TLS port:"), tlsPort_);
    layout->addRow(QStringLiteral("Certificate:"), certificate_);
    layout->addRow(QStringLiteral("Key:"), key_);
    layout->addRow(QStringLiteral("CA file:"), caFile_);

    for (auto* port : {tcpPort_, tlsPort_})
        connect(port, &QSpinBox::valueChanged, this, &ReceptionGroup::edited);
    for (auto* file : {certificate_, key_, caFile_})
        connect(file, &QLineEdit::textEdited, this, &ReceptionGroup::edited);
}

void ReceptionGroup::load(const nlohmann::json& settings)
{
    const auto port = [&](std::string_view k) {
        const auto v = readInteger(settings, k).value_or(0);
        return static_cast<int>(v < 0 || v > 65535 ? 0 : v);
    };
    const auto text = [&](std::string_view k) {
        return QString::fromStdString(readString(settings, k).value_or(std::string()));
    };
    tcpPort_->setValue(port(key::receptionTcpPort));
    tlsPort_->setValue(port(key::receptionTlsPort));
    certificate_->setText(text(key::receptionTlsCertificate));
    key_->setText(text(key::receptionTlsKey));
    caFile_->setText(text(key::receptionTlsCaFile));
}

void ReceptionGroup::store(nlohmann::json& settings) const
{
    storeIfUsed(settings, key::receptionTcpPort, tcpPort_->value(), tcpPort_->value() != 0);
    storeIfUsed(settings, key::receptionTlsPort, tlsPort_->value(), tlsPort_->value() != 0);
    for (const auto& [k, field] : {std::pair{key::receptionTlsCertificate, certificate_},
                                   std::pair{key::receptionTlsKey, key_}, std::pair{key::receptionTlsCaFile, caFile_}}) {
        const std::string value = field->text().trimmed().toStdString();
        storeIfUsed(settings, k, value, !value.empty());
    }
}

QString ReceptionGroup::problem() const
{
    QString why = tcpPort_->problem(QStringLiteral("TCP port"));
    if (why.isEmpty())
        why = tlsPort_->problem(QStringLiteral("TLS port"));
    return why;
}

} // namespace brantwell
