#include "ForwardingSheet.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QPushButton>

#include "ForwardingRecord.h"
#include "SettingsValue.h"

namespace brantwell {

namespace {

QString textOf(const nlohmann::json& record, std::string_view key)
{
    return QString::fromStdString(recordText(record, key).value_or(""));
}

QLabel* problemLabel(const char* name, QWidget* parent)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setWordWrap(true);
    l->setStyleSheet(QStringLiteral("color: #a30000;"));  // dark red on white, as the filter fields
    l->hide();
    return l;
}

// Shows `why` as a sentence of its own; true when there is none.
bool showWhy(QLabel* label, std::optional<std::string> why)
{
    if (why && !why->empty() && (*why)[0] >= 'a' && (*why)[0] <= 'z')
        (*why)[0] = static_cast<char>((*why)[0] - 'a' + 'A');
    label->setText(why ? QString::fromStdString(*why) : QString());
    label->setVisible(why.has_value());
    return !why;
}

const char* const kTransports[] = {"tcp", "tls", "udp"};
const char* const kFormats[] = {"rfc5424", "rfc3164"};

} // namespace

ForwardingSheet::ForwardingSheet(const nlohmann::json* record, QStringList takenNames, QWidget* parent)
    : EditorDialog(QStringLiteral("forwardingSheet"),
                   record ? QStringLiteral("Edit destination") : QStringLiteral("New destination"), parent),
      takenNames_(std::move(takenNames))
{
    auto* match = new QGroupBox(QStringLiteral("Name and the events it relays"), this);
    auto* matchLayout = new QVBoxLayout(match);
    fields_ = new FilterFields(match);
    matchLayout->addWidget(fields_);
    nameProblem_ = problemLabel("forwardNameProblem", match);
    matchLayout->addWidget(nameProblem_);
    body()->addWidget(match);

    auto* server = new QGroupBox(QStringLiteral("Upstream server"), this);
    auto* grid = new QFormLayout(server);
    grid->setVerticalSpacing(form::kRowSpacing);
    grid->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    host_ = new QLineEdit(server);
    host_->setObjectName(QStringLiteral("forwardHost"));
    host_->setPlaceholderText(QStringLiteral("logs.example.net or 192.0.2.10"));
    port_ = new PortField(QStringLiteral("forwardPort"), 1, server);
    port_->setValue(6514);
    transport_ = new QComboBox(server);
    transport_->setObjectName(QStringLiteral("forwardTransport"));
    transport_->addItem(QStringLiteral("TCP"), QStringLiteral("tcp"));
    transport_->addItem(QStringLiteral("TLS"), QStringLiteral("tls"));
    transport_->addItem(QStringLiteral("UDP (best effort, nothing queued)"), QStringLiteral("udp"));
    format_ = new QComboBox(server);
    format_->setObjectName(QStringLiteral("forwardFormat"));
    format_->addItem(QStringLiteral("RFC 5424"), QStringLiteral("rfc5424"));
    format_->addItem(QStringLiteral("RFC 3164 (BSD)"), QStringLiteral("rfc3164"));
    caFile_ = new QLineEdit(server);
    caFile_->setObjectName(QStringLiteral("forwardCaFile"));
    caFile_->setPlaceholderText(QStringLiteral("The system's trust store"));
    certificate_ = new QLineEdit(server);
    certificate_->setObjectName(QStringLiteral("forwardCertificateFile"));
    certificate_->setPlaceholderText(QStringLiteral("None"));
    key_ = new QLineEdit(server);
    key_->setObjectName(QStringLiteral("forwardKeyFile"));
    key_->setPlaceholderText(QStringLiteral("None"));
    queue_ = new QSpinBox(server);
    queue_->setObjectName(QStringLiteral("forwardQueue"));
    queue_->setRange(1, static_cast<int>(kMaxQueueMegabytes));
    queue_->setValue(static_cast<int>(kDefaultQueueMegabytes));
    queue_->setSuffix(QStringLiteral(" MB"));
    queue_->setToolTip(QStringLiteral("Events wait on disk while the server is away; beyond this the oldest are dropped"));
    hostProblem_ = problemLabel("forwardHostProblem", server);
    portProblem_ = problemLabel("forwardPortProblem", server);
    filesProblem_ = problemLabel("forwardFilesProblem", server);

    grid->addRow(QStringLiteral("Server a&ddress:"), host_);
    grid->addRow(QString(), hostProblem_);
    grid->addRow(QStringLiteral("&Port:"), port_);
    grid->addRow(QString(), portProblem_);
    grid->addRow(QStringLiteral("Transpo&rt:"), transport_);
    grid->addRow(QStringLiteral("&Wire format:"), format_);
    grid->addRow(QStringLiteral("CA f&ile:"), caFile_);
    grid->addRow(QStringLiteral("Client c&ertificate:"), certificate_);
    grid->addRow(QStringLiteral("Client &key:"), key_);
    grid->addRow(QString(), filesProblem_);
    grid->addRow(QStringLiteral("&Queue up to:"), queue_);
    body()->addWidget(server);

    if (record && record->is_object()) {
        result_ = *record;
        // The record test's absent fields are shown as the values that
        // select every event.
        nlohmann::json shown = *record;
        for (const auto& [k, v] : {std::pair{"IP", "0.0.0.0"}, {"Mask", "0"}, {"Facility", "*"}, {"Severity", "*"},
                                   {"Message", "*"}})
            if (!shown.contains(k))
                shown[k] = v;
        if (shown["Mask"].is_number_integer())
            shown["Mask"] = std::to_string(shown["Mask"].get<long long>());
        fields_->showRecord(shown);
        host_->setText(textOf(*record, "Host"));
        if (const auto port = readInteger(*record, "Port"))
            port_->setValue(static_cast<int>(*port));
        for (int i = 0; i < transport_->count(); ++i)
            if (transport_->itemData(i).toString() == textOf(*record, "Transport"))
                transport_->setCurrentIndex(i);
        for (int i = 0; i < format_->count(); ++i)
            if (format_->itemData(i).toString() == textOf(*record, "Format"))
                format_->setCurrentIndex(i);
        caFile_->setText(textOf(*record, "CaFile"));
        certificate_->setText(textOf(*record, "CertificateFile"));
        key_->setText(textOf(*record, "KeyFile"));
        if (const auto megabytes = readInteger(*record, "QueueMegabytes"))
            queue_->setValue(static_cast<int>(std::clamp<std::int64_t>(*megabytes, 1, kMaxQueueMegabytes)));
    } else {
        fields_->showNew(QStringLiteral("New destination"));
    }

    connect(fields_, &FilterFields::validityChanged, this, &ForwardingSheet::check);
    connect(fields_, &FilterFields::edited, this, &ForwardingSheet::check);
    connect(fields_->nameField(), &QLineEdit::textChanged, this, &ForwardingSheet::check);
    for (auto* f : {host_, caFile_, certificate_, key_})
        connect(f, &QLineEdit::textChanged, this, &ForwardingSheet::check);
    connect(port_, &QSpinBox::textChanged, this, &ForwardingSheet::check);
    connect(transport_, &QComboBox::currentIndexChanged, this, &ForwardingSheet::check);
    check();
}

nlohmann::json ForwardingSheet::serverRecord() const
{
    nlohmann::json r = result_.is_object() ? result_ : nlohmann::json::object();
    fields_->writeInto(r);
    r["Host"] = host_->text().trimmed().toStdString();
    r["Port"] = port_->value();
    r["Transport"] = transport_->currentData().toString().toStdString();
    r["Format"] = format_->currentData().toString().toStdString();
    const bool tls = r["Transport"] == "tls";
    for (const auto& [k, f] : {std::pair{"CaFile", caFile_}, {"CertificateFile", certificate_}, {"KeyFile", key_}}) {
        const std::string path = f->text().trimmed().toStdString();
        if (tls && !path.empty())
            r[k] = path;
        else
            r.erase(k);
    }
    if (r["Transport"] == "udp")
        r.erase("QueueMegabytes");
    else
        r["QueueMegabytes"] = queue_->value();
    return r;
}

void ForwardingSheet::check()
{
    const bool tls = transport_->currentData().toString() == QStringLiteral("tls");
    for (auto* f : {caFile_, certificate_, key_})
        f->setEnabled(tls);
    queue_->setEnabled(transport_->currentData().toString() != QStringLiteral("udp"));

    const QString name = fields_->nameField()->text();
    std::optional<std::string> nameWhy;
    if (takenNames_.contains(name))
        nameWhy = "Another destination is named \"" + name.toStdString() + "\"; each needs a name of its own";
    bool valid = showWhy(nameProblem_, nameWhy);
    valid = showWhy(hostProblem_, forwardingHostProblem(host_->text().trimmed().toStdString())) && valid;
    const QString portWhy = port_->problem(QStringLiteral("Port"));
    valid = showWhy(portProblem_, portWhy.isEmpty() ? std::nullopt : std::optional(portWhy.toStdString())) && valid;
    std::optional<std::string> files;
    if (tls) {
        files = forwardingFileProblem(caFile_->text().trimmed().toStdString(), "CA file");
        if (!files)
            files = forwardingFileProblem(certificate_->text().trimmed().toStdString(), "certificate file");
        if (!files)
            files = forwardingFileProblem(key_->text().trimmed().toStdString(), "key file");
        if (!files && certificate_->text().trimmed().isEmpty() != key_->text().trimmed().isEmpty())
            files = "A client certificate needs both its certificate file and its key file";
    }
    valid = showWhy(filesProblem_, files) && valid;
    // Whatever the fields above do not catch, the daemon's own rule does.
    valid = valid && fields_->isValid() && !forwardingRecordProblem(serverRecord());
    valid_ = valid;
    buttons()->save()->setEnabled(valid);
}

bool ForwardingSheet::onSave()
{
    check();
    if (!valid_)
        return false;
    result_ = serverRecord();
    return true;
}

} // namespace brantwell
