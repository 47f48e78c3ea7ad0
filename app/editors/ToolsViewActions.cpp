#include "ToolsViewActions.h"

#include <array>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>

#include "ActionView.h"
#include "ActionsEmailFormat.h"
#include "ActionsEmailServer.h"
#include "ActionsEmailTest.h"
#include "SettingsKeys.h"
#include "SettingsValue.h"
#include "ToolsView.h"

namespace brantwell {

namespace {

QString textOf(const nlohmann::json& record, std::string_view key)
{
    return QString::fromStdString(recordText(record, key).value_or(""));
}

bool hasCommand(const nlohmann::json& record, const char* key)
{
    const auto it = record.find(key);
    return it != record.end() && it->is_object() && !it->empty();
}

// The commands of an action in a few words.
QString commandsOf(const nlohmann::json& record)
{
    QStringList parts;
    if (hasCommand(record, "runCommand"))
        parts << QStringLiteral("program");
    if (hasCommand(record, "sendEmail"))
        parts << QStringLiteral("e-mail");
    if (hasCommand(record, "setEvent"))
        parts << QStringLiteral("journal");
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral(", "));
}

} // namespace

ToolsViewActions::ToolsViewActions(EditorContext context, std::function<std::string()> dateFormat, QWidget* parent)
    : EditorPage(QStringLiteral("toolsViewActions"), QStringLiteral("Actions"), std::move(context), parent),
      dateFormat_(std::move(dateFormat))
{
    setBlankName(QStringLiteral("actionsBlank"));
    auto* list = form::section(QStringLiteral("Automatic actions"), this);
    auto* listLayout = new QVBoxLayout(list);
    listLayout->setSpacing(form::kRowSpacing);
    auto* about = new QLabel(QStringLiteral("Each received event that matches an action runs its program, sends its "
                                            "e-mail and writes its journal entry."),
                             list);
    about->setWordWrap(true);
    listLayout->addWidget(about);
    table_ = new QTableWidget(0, 6, list);
    table_->setObjectName(QStringLiteral("automaticActionsTable"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Host"), QStringLiteral("Facility"),
                                       QStringLiteral("Severity"), QStringLiteral("Message"),
                                       QStringLiteral("Does")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    // The message pattern takes the room the other columns leave.
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table_->horizontalHeader()->setSectionResizeMode(4, QHeaderView::Stretch);
    table_->setMinimumHeight(160);
    listLayout->addWidget(table_, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(form::kRowSpacing);
    auto* add = new QPushButton(QStringLiteral("&Add…"), list);
    add->setObjectName(QStringLiteral("addAction"));
    edit_ = new QPushButton(QStringLiteral("&Edit…"), list);
    edit_->setObjectName(QStringLiteral("editAction"));
    remove_ = new QPushButton(QStringLiteral("&Remove"), list);
    remove_->setObjectName(QStringLiteral("removeAction"));
    for (auto* b : {add, edit_, remove_}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->addStretch(1);
    listLayout->addLayout(buttons);
    body()->addWidget(list, 1);

    auto* mail = form::section(QStringLiteral("E-mail"), this);
    auto* mailLayout = new QHBoxLayout(mail);
    mailLayout->setSpacing(form::kMargin);
    const std::pair<const char*, const char*> links[] = {
        {"emailServerLink", "Server…"}, {"emailFormatLink", "Subject and text…"}, {"emailTestLink", "Send a test…"}};
    const std::array<void (ToolsViewActions::*)(), 3> opens = {&ToolsViewActions::emailServer,
                                                              &ToolsViewActions::emailFormat,
                                                              &ToolsViewActions::emailTest};
    for (std::size_t i = 0; i < opens.size(); ++i) {
        auto* link = new ToolsViewLink(QString::fromLatin1(links[i].first), QString::fromUtf8(links[i].second), mail);
        connect(link, &ToolsViewLink::clicked, this, opens[i]);
        mailLayout->addWidget(link);
    }
    mailLayout->addStretch(1);
    body()->addWidget(mail);

    connect(add, &QPushButton::clicked, this, [this] { automaticActions(true); });
    connect(edit_, &QPushButton::clicked, this, [this] { automaticActions(false); });
    connect(remove_, &QPushButton::clicked, this, &ToolsViewActions::removeActions);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &ToolsViewActions::automaticActionsTable);
    connect(table_, &QTableWidget::itemDoubleClicked, this, [this] { automaticActions(false); });
    setTabOrder(table_, add);
    setTabOrder(add, edit_);
    setTabOrder(edit_, remove_);
}

void ToolsViewActions::loadSettings(const nlohmann::json& settings, bool)
{
    actionsArray_ = nlohmann::json::array();
    if (const auto it = settings.find(std::string(key::actionsArray)); it != settings.end() && it->is_array())
        actionsArray_ = *it;
    fillTable();
}

void ToolsViewActions::storeSettings(nlohmann::json& settings) const
{
    settings[std::string(key::actionsArray)] = actionsArray_;
}

void ToolsViewActions::fillTable()
{
    table_->clearSelection();
    table_->setRowCount(static_cast<int>(actionsArray_.size()));
    int row = 0;
    for (const auto& record : actionsArray_) {
        const bool usable = record.is_object();
        const QString host = usable ? QStringLiteral("%1/%2").arg(textOf(record, "IP"), textOf(record, "Mask")) : QString();
        const QString cells[] = {usable ? textOf(record, "Name") : QStringLiteral("(not an action)"),
                                 host,
                                 usable ? textOf(record, "Facility") : QString(),
                                 usable ? textOf(record, "Severity") : QString(),
                                 usable ? textOf(record, "Message") : QString(),
                                 usable ? commandsOf(record) : QString()};
        for (int column = 0; column < 6; ++column)
            table_->setItem(row, column, new QTableWidgetItem(cells[column]));
        ++row;
    }
    // Not the message column: fitted to its contents it would stop
    // stretching until the next resize.
    for (int column : {0, 1, 2, 3, 5})
        table_->resizeColumnToContents(column);
    table_->setCurrentCell(-1, -1);
    automaticActionsTable();
}

int ToolsViewActions::selectedRow() const
{
    const auto rows = table_->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void ToolsViewActions::automaticActionsTable()
{
    const bool selected = selectedRow() >= 0;
    edit_->setEnabled(selected);
    remove_->setEnabled(selected);
}

void ToolsViewActions::automaticActions(bool add)
{
    if (add)
        table_->clearSelection();
    const int row = selectedRow();
    if (!add && row < 0)
        return;
    const nlohmann::json* record = row >= 0 ? &actionsArray_[static_cast<std::size_t>(row)] : nullptr;
    auto* editor = new ActionView(record, this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    connect(editor, &QDialog::accepted, this, [this, editor, row] {
        // The list may not have changed while the window-modal editor was open.
        if (row >= 0 && static_cast<std::size_t>(row) < actionsArray_.size())
            actionsArray_[static_cast<std::size_t>(row)] = editor->result();
        else
            actionsArray_.push_back(editor->result());
        fillTable();
        markChanged();
    });
    editor->open();
}

void ToolsViewActions::removeActions()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    // Every record equal to the chosen one goes with it.
    const nlohmann::json chosen = actionsArray_[static_cast<std::size_t>(row)];
    nlohmann::json kept = nlohmann::json::array();
    for (const auto& record : actionsArray_)
        if (record != chosen)
            kept.push_back(record);
    actionsArray_ = std::move(kept);
    fillTable();
    markChanged();
}

void ToolsViewActions::emailServer()
{
    auto* sheet = new ActionsEmailServer(context(), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
}

void ToolsViewActions::emailFormat()
{
    auto* sheet = new ActionsEmailFormat(context(), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
}

void ToolsViewActions::emailTest()
{
    auto* sheet = new ActionsEmailTest(context(), dateFormat_ ? dateFormat_() : std::string(), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
}

} // namespace brantwell
