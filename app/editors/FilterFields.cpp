#include "FilterFields.h"

#include <QGridLayout>
#include <QLabel>

#include "EditorPage.h"
#include "Priority.h"
#include "SettingsValue.h"

namespace brantwell {

namespace {

template <std::size_t N>
QStringList entriesOf(const std::array<std::string_view, N>& names)
{
    QStringList out{QStringLiteral("*")};
    for (const auto name : names) {
        const QString text = QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
        if (!out.contains(text))  // two facility codes share a name
            out << text;
    }
    return out;
}

QComboBox* patternList(const QString& objectName, const QStringList& entries, QWidget* parent)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(objectName);
    // Typed patterns such as "Local*" are allowed, as in the stored record.
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->addItems(entries);
    box->setMaxVisibleItems(entries.size());
    box->setMinimumContentsLength(14);
    return box;
}

// Selects the entry equal to `text`, or shows `text` as typed when it is
// none of the entries, so that opening and saving keeps it.
void showPattern(QComboBox* list, const QString& text)
{
    const int i = list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (i >= 0)
        list->setCurrentIndex(i);
    list->setEditText(text);
}

QString textOf(const nlohmann::json& record, std::string_view key, const char* fallback = "")
{
    const auto text = recordText(record, key);
    return QString::fromStdString(text.value_or(fallback));
}

} // namespace

const QStringList& FilterFields::facilityEntries()
{
    static const QStringList entries = entriesOf(kFacilityNames);
    return entries;
}

const QStringList& FilterFields::severityEntries()
{
    static const QStringList entries = entriesOf(kSeverityNames);
    return entries;
}

FilterFields::FilterFields(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("filterFields"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(form::kRowSpacing * 2);
    grid->setVerticalSpacing(form::kRowSpacing);

    auto field = [this](const char* name) {
        auto* f = new QLineEdit(this);
        f->setObjectName(QString::fromLatin1(name));
        connect(f, &QLineEdit::textEdited, this, &FilterFields::edited);
        return f;
    };
    auto anyButton = [this](const char* name, const QString& text, void (FilterFields::*slot)()) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, slot] {
            (this->*slot)();
            Q_EMIT edited();
        });
        return b;
    };
    auto label = [this](const QString& text, QWidget* buddy) {
        auto* l = new QLabel(text, this);
        l->setBuddy(buddy);
        return l;
    };

    name_ = field("filterName");
    ip_ = field("filterIP");
    ip_->setPlaceholderText(QStringLiteral("0.0.0.0"));
    mask_ = field("filterMask");
    mask_->setMaximumWidth(60);
    mask_->setToolTip(QStringLiteral("Prefix length in bits, 0 to 32; 0 takes every sender"));
    facility_ = patternList(QStringLiteral("filterFacility"), facilityEntries(), this);
    severity_ = patternList(QStringLiteral("filterSeverity"), severityEntries(), this);
    message_ = field("filterMessage");
    message_->setToolTip(QStringLiteral("Pattern for the message: * any run of characters, ? one character"));
    for (auto* list : {facility_, severity_}) {
        connect(list, &QComboBox::activated, this, &FilterFields::edited);
        connect(list->lineEdit(), &QLineEdit::textEdited, this, &FilterFields::edited);
    }

    auto* host = new QHBoxLayout;
    host->setSpacing(form::kRowSpacing);
    host->addWidget(ip_, 1);
    host->addWidget(new QLabel(QStringLiteral("/"), this));
    host->addWidget(mask_);

    int row = 0;
    grid->addWidget(label(QStringLiteral("&Name:"), name_), row, 0);
    grid->addWidget(name_, row++, 1);
    grid->addWidget(label(QStringLiteral("&Host:"), ip_), row, 0);
    grid->addLayout(host, row, 1);
    grid->addWidget(anyButton("anyHost", QStringLiteral("Any host"), &FilterFields::anyHost), row++, 2);
    grid->addWidget(label(QStringLiteral("&Facility:"), facility_), row, 0);
    grid->addWidget(facility_, row, 1);
    grid->addWidget(anyButton("anyFacility", QStringLiteral("Any facility"), &FilterFields::anyFacility), row++, 2);
    grid->addWidget(label(QStringLiteral("&Severity:"), severity_), row, 0);
    grid->addWidget(severity_, row, 1);
    grid->addWidget(anyButton("anySeverity", QStringLiteral("Any severity"), &FilterFields::anySeverity), row++, 2);
    grid->addWidget(label(QStringLiteral("&Message:"), message_), row, 0);
    grid->addWidget(message_, row, 1);
    grid->addWidget(anyButton("anyMessage", QStringLiteral("Any message"), &FilterFields::anyMessage), row++, 2);
    grid->setColumnStretch(1, 1);

    // Tab order follows the rows: each field, then its "any" button.
    QWidget::setTabOrder(name_, ip_);
    QWidget::setTabOrder(ip_, mask_);
    QWidget::setTabOrder(mask_, findChild<QPushButton*>(QStringLiteral("anyHost")));
    QWidget::setTabOrder(findChild<QPushButton*>(QStringLiteral("anyHost")), facility_);
    QWidget::setTabOrder(facility_, findChild<QPushButton*>(QStringLiteral("anyFacility")));
    QWidget::setTabOrder(findChild<QPushButton*>(QStringLiteral("anyFacility")), severity_);
    QWidget::setTabOrder(severity_, findChild<QPushButton*>(QStringLiteral("anySeverity")));
    QWidget::setTabOrder(findChild<QPushButton*>(QStringLiteral("anySeverity")), message_);
    QWidget::setTabOrder(message_, findChild<QPushButton*>(QStringLiteral("anyMessage")));

    showNew();
}

void FilterFields::showNew(const QString& name)
{
    name_->setEnabled(true);
    name_->setText(name);
    anyHost();
    anyFacility();
    anySeverity();
    anyMessage();
}

void FilterFields::showRecord(const nlohmann::json& record)
{
    name_->setText(textOf(record, "Name"));
    name_->setEnabled(false);  // a filter keeps the name it was made with
    ip_->setText(textOf(record, "IP"));
    // The mask is shown by its integer value ("24 bits" reads as 24).
    mask_->setText(QString::number(readInteger(record, "Mask").value_or(0)));
    showPattern(facility_, textOf(record, "Facility"));
    showPattern(severity_, textOf(record, "Severity"));
    message_->setText(textOf(record, "Message"));
}

nlohmann::json FilterFields::record() const
{
    nlohmann::json r = nlohmann::json::object();
    writeInto(r);
    return r;
}

void FilterFields::writeInto(nlohmann::json& record) const
{
    if (!record.is_object())
        record = nlohmann::json::object();
    record["Name"] = name_->text().toStdString();
    record["IP"] = ip_->text().toStdString();
    record["Mask"] = mask_->text().toStdString();
    record["Facility"] = facility_->currentText().toStdString();
    record["Severity"] = severity_->currentText().toStdString();
    record["Message"] = message_->text().toStdString();
}

void FilterFields::anyHost()
{
    ip_->setText(QStringLiteral("0.0.0.0"));
    mask_->setText(QStringLiteral("0"));
}

void FilterFields::anyFacility()
{
    showPattern(facility_, facility_->itemText(0));
}

void FilterFields::anySeverity()
{
    showPattern(severity_, severity_->itemText(0));
}

void FilterFields::anyMessage()
{
    message_->setText(QStringLiteral("*"));
}

} // namespace brantwell
