#include "FilterFields.h"

#include <QGridLayout>
#include <QLabel>

#include "EditorPage.h"
#include "Priority.h"
#include "RecordTest.h"
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

    auto problem = [this](const char* name) {
        auto* l = new QLabel(this);
        l->setObjectName(QString::fromLatin1(name));
        l->setWordWrap(true);
        // Dark red on white: contrast well above 4.5:1.
        l->setStyleSheet(QStringLiteral("color: #a30000;"));
        l->hide();
        return l;
    };
    nameProblem_ = problem("filterNameProblem");
    hostProblem_ = problem("filterHostProblem");
    facilityProblem_ = problem("filterFacilityProblem");
    severityProblem_ = problem("filterSeverityProblem");
    messageProblem_ = problem("filterMessageProblem");

    int row = 0;
    grid->addWidget(label(QStringLiteral("&Name:"), name_), row, 0);
    grid->addWidget(name_, row++, 1);
    grid->addWidget(nameProblem_, row++, 1, 1, 2);
    grid->addWidget(label(QStringLiteral("&Host:"), ip_), row, 0);
    grid->addLayout(host, row, 1);
    grid->addWidget(anyButton("anyHost", QStringLiteral("Any h&ost"), &FilterFields::anyHost), row++, 2);
    grid->addWidget(hostProblem_, row++, 1, 1, 2);
    grid->addWidget(label(QStringLiteral("&Facility:"), facility_), row, 0);
    grid->addWidget(facility_, row, 1);
    grid->addWidget(anyButton("anyFacility", QStringLiteral("Any f&acility"), &FilterFields::anyFacility), row++, 2);
    grid->addWidget(facilityProblem_, row++, 1, 1, 2);
    grid->addWidget(label(QStringLiteral("Se&verity:"), severity_), row, 0);
    grid->addWidget(severity_, row, 1);
    grid->addWidget(anyButton("anySeverity", QStringLiteral("Any severi&ty"), &FilterFields::anySeverity), row++, 2);
    grid->addWidget(severityProblem_, row++, 1, 1, 2);
    grid->addWidget(label(QStringLiteral("&Message:"), message_), row, 0);
    grid->addWidget(message_, row, 1);
    grid->addWidget(anyButton("anyMessage", QStringLiteral("Any messa&ge"), &FilterFields::anyMessage), row++, 2);
    grid->addWidget(messageProblem_, row++, 1, 1, 2);
    grid->setColumnStretch(1, 1);

    // Checked on every change, typed or set by a button or a load.
    for (auto* f : {name_, ip_, mask_, message_})
        connect(f, &QLineEdit::textChanged, this, &FilterFields::check);
    for (auto* list : {facility_, severity_})
        connect(list, &QComboBox::currentTextChanged, this, &FilterFields::check);

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

void FilterFields::check()
{
    const auto show = [](QLabel* label, std::optional<std::string> why) {
        if (why && !why->empty() && (*why)[0] >= 'a' && (*why)[0] <= 'z')
            (*why)[0] = static_cast<char>((*why)[0] - 'a' + 'A');  // a sentence of its own
        label->setText(why ? QString::fromStdString(*why) : QString());
        label->setVisible(why.has_value());
        return !why;
    };
    const std::string ip = ip_->text().toStdString();
    const std::string mask = mask_->text().toStdString();
    auto host = filterAddressProblem(ip);
    if (!host)
        host = filterMaskProblem(mask);
    bool valid = show(nameProblem_, filterNameProblem(name_->text().toStdString()));
    valid = show(hostProblem_, host) && valid;
    valid = show(facilityProblem_, filterPatternProblem(facility_->currentText().toStdString(), "facility")) && valid;
    valid = show(severityProblem_, filterPatternProblem(severity_->currentText().toStdString(), "severity")) && valid;
    valid = show(messageProblem_, filterPatternProblem(message_->text().toStdString(), "message")) && valid;
    if (valid != valid_) {
        valid_ = valid;
        Q_EMIT validityChanged(valid_);
    }
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
    // A filter keeps the name it was made with, unless it has none (a
    // file edited by hand): then it can be given one.
    name_->setEnabled(filterNameProblem(name_->text().toStdString()).has_value());
    ip_->setText(textOf(record, "IP"));
    // The mask is shown by its integer value ("24 bits" reads as 24).
    // A stored text that is no mask ("ab-7", "40") is shown as it is, with
    // its reason, rather than quietly turned into another range.
    const QString mask = textOf(record, "Mask");
    mask_->setText(filterMaskProblem(mask.toStdString()) ? mask : QString::number(mask.trimmed().toInt()));
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
