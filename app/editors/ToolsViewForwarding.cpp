#include "ToolsViewForwarding.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>

#include "ForwardingRecord.h"
#include "ForwardingSheet.h"
#include "SettingsKeys.h"
#include "SettingsValue.h"

namespace brantwell {

namespace {

QString textOf(const nlohmann::json& record, std::string_view key)
{
    return QString::fromStdString(recordText(record, key).value_or(""));
}

// The events a destination relays, in a few words.
QString selectionOf(const nlohmann::json& r)
{
    QStringList parts;
    const QString ip = textOf(r, "IP"), mask = textOf(r, "Mask").isEmpty() && r.contains("Mask") && r["Mask"].is_number_integer()
                                                   ? QString::number(r["Mask"].get<long long>())
                                                   : textOf(r, "Mask");
    if (!ip.isEmpty() && !(ip.trimmed() == QStringLiteral("0.0.0.0") && mask.trimmed() == QStringLiteral("0")))
        parts << QStringLiteral("from %1/%2").arg(ip, mask);
    for (const char* k : {"Facility", "Severity", "Message"}) {
        const QString pattern = textOf(r, k);
        if (!pattern.isEmpty() && pattern != QStringLiteral("*"))
            parts << QStringLiteral("%1 %2").arg(QString::fromLatin1(k).toLower(), pattern);
    }
    return parts.isEmpty() ? QStringLiteral("every event") : parts.join(QStringLiteral(", "));
}

} // namespace

ToolsViewForwarding::ToolsViewForwarding(EditorContext context, QWidget* parent)
    : EditorPage(QStringLiteral("toolsViewForwarding"), QStringLiteral("Forwarding"), std::move(context), parent)
{
    setBlankName(QStringLiteral("forwardingBlank"));
    auto* list = form::section(QStringLiteral("Upstream servers"), this);
    auto* listLayout = new QVBoxLayout(list);
    listLayout->setSpacing(form::kRowSpacing);
    auto* about = new QLabel(QStringLiteral("Every stored event a destination selects is sent on to its server, in "
                                            "the order it was stored. Over TCP and TLS, events wait on disk while "
                                            "the server is away, also across a restart."),
                             list);
    about->setWordWrap(true);
    listLayout->addWidget(about);
    table_ = new QTableWidget(0, 5, list);
    table_->setObjectName(QStringLiteral("forwardingTable"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Server"), QStringLiteral("Transport"),
                                       QStringLiteral("Format"), QStringLiteral("Relays")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table_->horizontalHeader()->setSectionResizeMode(4, QHeaderView::Stretch);
    table_->setMinimumHeight(160);
    listLayout->addWidget(table_, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(form::kRowSpacing);
    auto* add = new QPushButton(QStringLiteral("&Add…"), list);
    add->setObjectName(QStringLiteral("addDestination"));
    edit_ = new QPushButton(QStringLiteral("&Edit…"), list);
    edit_->setObjectName(QStringLiteral("editDestination"));
    remove_ = new QPushButton(QStringLiteral("&Remove"), list);
    remove_->setObjectName(QStringLiteral("removeDestination"));
    for (auto* b : {add, edit_, remove_}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->addStretch(1);
    listLayout->addLayout(buttons);
    body()->addWidget(list, 1);

    connect(add, &QPushButton::clicked, this, [this] { editDestination(true); });
    connect(edit_, &QPushButton::clicked, this, [this] { editDestination(false); });
    connect(remove_, &QPushButton::clicked, this, &ToolsViewForwarding::removeDestination);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &ToolsViewForwarding::selectionChanged);
    connect(table_, &QTableWidget::itemDoubleClicked, this, [this] { editDestination(false); });
    setTabOrder(table_, add);
    setTabOrder(add, edit_);
    setTabOrder(edit_, remove_);
}

void ToolsViewForwarding::loadSettings(const nlohmann::json& settings, bool)
{
    forwardingArray_ = nlohmann::json::array();
    if (const auto it = settings.find(std::string(key::forwardingArray)); it != settings.end() && it->is_array())
        forwardingArray_ = *it;
    fillTable();
}

void ToolsViewForwarding::storeSettings(nlohmann::json& settings) const
{
    settings[std::string(key::forwardingArray)] = forwardingArray_;
}

void ToolsViewForwarding::fillTable()
{
    table_->clearSelection();
    table_->setRowCount(static_cast<int>(forwardingArray_.size()));
    int row = 0;
    for (const auto& r : forwardingArray_) {
        const bool usable = r.is_object();
        const auto port = usable ? readInteger(r, "Port") : std::nullopt;
        const QString cells[] = {
            usable ? textOf(r, "Name") : QStringLiteral("(not a destination)"),
            usable ? QStringLiteral("%1:%2").arg(textOf(r, "Host"), port ? QString::number(*port) : QString()) : QString(),
            usable ? textOf(r, "Transport").toUpper() : QString(),
            usable ? (textOf(r, "Format") == QStringLiteral("rfc3164") ? QStringLiteral("RFC 3164")
                                                                       : QStringLiteral("RFC 5424"))
                   : QString(),
            usable ? selectionOf(r) : QString()};
        for (int column = 0; column < 5; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            // A record the daemon would refuse says why on hover.
            if (const auto why = forwardingRecordProblem(r))
                item->setToolTip(QString::fromStdString(*why));
            table_->setItem(row, column, item);
        }
        ++row;
    }
    for (int column : {0, 1, 2, 3})
        table_->resizeColumnToContents(column);
    table_->setCurrentCell(-1, -1);
    selectionChanged();
}

int ToolsViewForwarding::selectedRow() const
{
    const auto rows = table_->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void ToolsViewForwarding::selectionChanged()
{
    const bool selected = selectedRow() >= 0;
    edit_->setEnabled(selected);
    remove_->setEnabled(selected);
}

void ToolsViewForwarding::editDestination(bool add)
{
    if (add)
        table_->clearSelection();
    const int row = selectedRow();
    if (!add && row < 0)
        return;
    const nlohmann::json* record = row >= 0 ? &forwardingArray_[static_cast<std::size_t>(row)] : nullptr;
    QStringList taken;
    for (int i = 0; i < static_cast<int>(forwardingArray_.size()); ++i)
        if (i != row)
            taken << textOf(forwardingArray_[static_cast<std::size_t>(i)], "Name");
    auto* sheet = new ForwardingSheet(record, taken, this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(sheet, &QDialog::accepted, this, [this, sheet, row] {
        if (row >= 0 && static_cast<std::size_t>(row) < forwardingArray_.size())
            forwardingArray_[static_cast<std::size_t>(row)] = sheet->result();
        else
            forwardingArray_.push_back(sheet->result());
        fillTable();
        markChanged();
    });
    sheet->open();
}

void ToolsViewForwarding::removeDestination()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    forwardingArray_.erase(static_cast<std::size_t>(row));
    fillTable();
    markChanged();
}

} // namespace brantwell
