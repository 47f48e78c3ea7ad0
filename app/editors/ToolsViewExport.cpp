#include "ToolsViewExport.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>

#include "SettingsKeys.h"
#include "SettingsValue.h"

namespace brantwell {

namespace {
constexpr int kMaxInterval = 527040;  // minutes: a leap year
constexpr int kClickInterval = 5;
} // namespace

ToolsViewExport::ToolsViewExport(EditorContext context, QWidget* parent)
    : EditorPage(QStringLiteral("toolsViewExport"), QStringLiteral("Export settings"), std::move(context), parent)
{
    setBlankName(QStringLiteral("exportBlank"));
    auto* intro = new QLabel(QStringLiteral("BrantwellSrv copies all stored events at these intervals. "
                                            "A text file ending in .csv is written with commas, any "
                                            "other with tabs."),
                             this);
    intro->setWordWrap(true);
    body()->addWidget(intro);
    text_ = build("Text", QStringLiteral("Text file"), QStringLiteral("/path/to/events.csv"));
    database_ = build("Database", QStringLiteral("Database"), QStringLiteral("/path/to/events.db"));
    body()->addStretch(1);

    connect(text_.box, &QCheckBox::clicked, this, [this] { exportText(true); });
    connect(database_.box, &QCheckBox::clicked, this, [this] { exportDatabase(true); });
    connect(text_.browse, &QPushButton::clicked, this, &ToolsViewExport::browseText);
    connect(database_.browse, &QPushButton::clicked, this, &ToolsViewExport::browseDatabase);
    QWidget::setTabOrder(text_.box, text_.interval);
    QWidget::setTabOrder(text_.interval, text_.location);
    QWidget::setTabOrder(text_.location, text_.browse);
    QWidget::setTabOrder(text_.browse, database_.box);
    QWidget::setTabOrder(database_.box, database_.interval);
    QWidget::setTabOrder(database_.interval, database_.location);
    QWidget::setTabOrder(database_.location, database_.browse);
    QWidget::setTabOrder(database_.browse, buttons()->cancel());
    QWidget::setTabOrder(buttons()->cancel(), saveButton());
}

ToolsViewExport::Export ToolsViewExport::build(const char* stem, const QString& title,
                                               const QString& placeholder)
{
    const QString s = QString::fromLatin1(stem);
    auto* box = form::section(title, this);
    auto* grid = new QGridLayout(box);
    grid->setHorizontalSpacing(form::kRowSpacing * 2);
    grid->setVerticalSpacing(form::kRowSpacing);
    Export e;
    e.box = new QCheckBox(QStringLiteral("Export every"), box);
    e.box->setObjectName(QStringLiteral("export") + s);
    e.interval = form::countField(s.toLower() + QStringLiteral("Interval"), kMaxInterval,
                                  QStringLiteral(" min"), box);
    e.location = new QLineEdit(box);
    e.location->setObjectName(s.toLower() + QStringLiteral("Location"));
    e.location->setPlaceholderText(placeholder);
    // Alt+B is the window's menu; the two rows share the page.
    e.browse = new QPushButton(s == QStringLiteral("Text") ? QStringLiteral("Bro&wse…") : QStringLiteral("Brows&e…"), box);
    e.browse->setObjectName(s.toLower() + QStringLiteral("Browse"));
    auto* where = new QLabel(QStringLiteral("To:"), box);
    where->setBuddy(e.location);
    grid->addWidget(e.box, 0, 0);
    grid->addWidget(e.interval, 0, 1, Qt::AlignLeft);
    grid->addWidget(where, 1, 0);
    grid->addWidget(e.location, 1, 1);
    grid->addWidget(e.browse, 1, 2);
    grid->setColumnStretch(1, 1);
    body()->addWidget(box);

    connect(e.interval, &QSpinBox::valueChanged, this, &ToolsViewExport::markChanged);
    connect(e.location, &QLineEdit::textEdited, this, &ToolsViewExport::markChanged);
    return e;
}

void ToolsViewExport::showExport(const Export& e, std::int64_t interval, const std::string& location)
{
    // Shown as on only with an interval and a location.
    const bool on = interval != 0 && !location.empty();
    e.box->setChecked(on);
    if (on) {
        form::setCountOn(e.interval, true, form::countValue(interval, kMaxInterval));
        e.location->setText(QString::fromStdString(location));
    }
}

void ToolsViewExport::loadSettings(const nlohmann::json& settings, bool)
{
    showExport(text_, readInteger(settings, key::textInterval).value_or(0),
         readString(settings, key::textLocation).value_or(""));
    exportText(false);
    showExport(database_, readInteger(settings, key::databaseInterval).value_or(0),
         readString(settings, key::databaseLocation).value_or(""));
    exportDatabase(false);
}

void ToolsViewExport::exportBox(const Export& e, bool byClick)
{
    const bool on = e.box->isChecked();
    if (on) {
        e.interval->setEnabled(true);
        e.location->setEnabled(true);
        e.browse->setEnabled(true);
        if (byClick)
            form::setCountOn(e.interval, true, kClickInterval);
    } else {
        form::setCountOn(e.interval, false, 0);
        e.location->clear();
        e.location->setEnabled(false);
        e.browse->setEnabled(false);
    }
    if (byClick)
        markChanged();
}

void ToolsViewExport::exportText(bool byClick)
{
    exportBox(text_, byClick);
}

void ToolsViewExport::exportDatabase(bool byClick)
{
    exportBox(database_, byClick);
}

void ToolsViewExport::browse(const Export& e, const QString& title, const QString& message,
                             const QStringList& filters, const QString& suffix)
{
    const QString start = e.location->text().isEmpty() ? QDir::homePath() : e.location->text();
    if (const auto path = form::chooseFile(this, form::FileChoice::Save, title, message, filters, start, suffix)) {
        e.location->setText(*path);
        markChanged();
    }
}

void ToolsViewExport::browseText()
{
    browse(text_, QStringLiteral("Text export file"),
           QStringLiteral("Please select text file location with 'txt' or 'csv' extensions:"),
           {QStringLiteral("Text files (*.txt *.csv)")}, QStringLiteral("txt"));
}

void ToolsViewExport::browseDatabase()
{
    browse(database_, QStringLiteral("Database export file"),
           QStringLiteral("Please select database file location with 'db' extension:"),
           {QStringLiteral("Database files (*.db)")}, QStringLiteral("db"));
}

void ToolsViewExport::storeSettings(nlohmann::json& settings) const
{
    settings[std::string(key::textInterval)] = text_.interval->value();
    settings[std::string(key::textLocation)] = text_.location->text().toStdString();
    settings[std::string(key::databaseInterval)] = database_.interval->value();
    settings[std::string(key::databaseLocation)] = database_.location->text().toStdString();
}

} // namespace brantwell
