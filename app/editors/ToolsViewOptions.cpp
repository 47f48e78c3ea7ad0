#include "ToolsViewOptions.h"

#include <QDateTime>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>

#include "DateFormat.h"
#include "SettingsValue.h"
#include "ToolsViewFilter.h"
#include "common/SeverityRows.h"

namespace brantwell {

namespace {

constexpr int kMaxAge = 100000;
constexpr int kMaxPopupSeconds = 86400;
constexpr int kClickPopupSeconds = 10;
constexpr std::int64_t kDefaultAge = kDefaultRemovalAge;
constexpr int kDefaultUnit = static_cast<int>(kDefaultRemovalUnit);
const char* const kSoundDirectory = "/usr/share/sounds";

QString qs(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// "Emergency" for the key "removalEmergency": the stem of a row's keys.
QString stemOf(std::size_t row)
{
    return qs(kRemovalAgeKeys[row]).mid(7);
}

QString popupName(std::size_t row)
{
    return qs(kSeverityPopupNames[row]);
}

QStringList stringArray(const nlohmann::json& settings, std::string_view key)
{
    QStringList out;
    if (!settings.is_object())
        return out;
    const auto it = settings.find(std::string(key));
    if (it == settings.end() || !it->is_array())
        return out;
    for (const auto& item : *it)
        if (auto text = stringValue(item))
            out << QString::fromStdString(*text);
    return out;
}

nlohmann::json recordArray(const nlohmann::json& settings, std::string_view key)
{
    if (settings.is_object()) {
        const auto it = settings.find(std::string(key));
        if (it != settings.end() && it->is_array())
            return *it;
    }
    return nlohmann::json::array();
}

nlohmann::json toJson(const QStringList& list)
{
    nlohmann::json out = nlohmann::json::array();
    for (const auto& s : list)
        out.push_back(s.toStdString());
    return out;
}

// Selects `text` in a fixed list, adding it for this visit when it is none
// of the entries, so that a format written elsewhere is kept by a save.
void selectOrAdd(QComboBox* list, const QString& text)
{
    int i = list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (i < 0) {
        list->addItem(text);
        i = list->count() - 1;
    }
    list->setCurrentIndex(i);
}

void dropAddedEntries(QComboBox* list, int fixed)
{
    while (list->count() > fixed)
        list->removeItem(list->count() - 1);
}

QComboBox* choiceList(const QString& objectName, const QStringList& entries, QWidget* parent)
{
    auto* list = new QComboBox(parent);
    list->setObjectName(objectName);
    list->addItems(entries);
    list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return list;
}

} // namespace

const QStringList& ToolsViewOptions::datePatterns()
{
    // No blanks: the stored format is split at its first blank.
    static const QStringList p{QStringLiteral("yyyy-MM-dd"), QStringLiteral("dd.MM.yyyy"),
                               QStringLiteral("dd/MM/yyyy"), QStringLiteral("MM/dd/yyyy"),
                               QStringLiteral("d.M.yy"),     QStringLiteral("M/d/yy"),
                               QStringLiteral("dd-MMM-yyyy"), QStringLiteral("MMM-dd")};
    return p;
}

const QStringList& ToolsViewOptions::timePatterns()
{
    static const QStringList p{QStringLiteral("HH:mm:ss"),      QStringLiteral("HH:mm"),
                               QStringLiteral("HH:mm:ss.SSS"),  QStringLiteral("h:mm:ss AM/PM"),
                               QStringLiteral("h:mm AM/PM"),    QStringLiteral("hh:mm:ss AM/PM")};
    return p;
}

ToolsViewOptions::ToolsViewOptions(EditorContext context, QWidget* parent)
    : EditorPage(QStringLiteral("toolsViewOptions"), QStringLiteral("Options"), std::move(context), parent)
{
    setBlankName(QStringLiteral("optionsBlank"));
    buildDisplay();
    buildSeverities();
    buildPopups();
    buildFilters();
    reception_ = new ReceptionGroup(this);
    body()->addWidget(reception_);
    connect(reception_, &ReceptionGroup::edited, this, &ToolsViewOptions::markChanged);
    body()->addStretch(1);
}

void ToolsViewOptions::buildDisplay()
{
    auto* box = form::section(QStringLiteral("Display"), this);
    auto* grid = new QGridLayout(box);
    grid->setHorizontalSpacing(form::kRowSpacing * 2);
    grid->setVerticalSpacing(form::kRowSpacing);

    hostsByAddress_ = new QRadioButton(QStringLiteral("By IP address"), box);
    hostsByAddress_->setObjectName(QStringLiteral("hostsByAddress"));
    hostsByName_ = new QRadioButton(QStringLiteral("By name"), box);
    hostsByName_->setObjectName(QStringLiteral("hostsByName"));
    auto* hosts = new QButtonGroup(box);
    hosts->addButton(hostsByAddress_);
    hosts->addButton(hostsByName_);
    auto* hostRow = new QHBoxLayout;
    hostRow->addWidget(hostsByAddress_);
    hostRow->addWidget(hostsByName_);
    hostRow->addStretch(1);
    grid->addWidget(new QLabel(QStringLiteral("Show senders:"), box), 0, 0);
    grid->addLayout(hostRow, 0, 1);

    dateLocale_ = new QRadioButton(QStringLiteral("As the system shows them"), box);
    dateLocale_->setObjectName(QStringLiteral("dateLocale"));
    dateDefined_ = new QRadioButton(QStringLiteral("As defined:"), box);
    dateDefined_->setObjectName(QStringLiteral("dateDefined"));
    auto* dates = new QButtonGroup(box);
    dates->addButton(dateLocale_);
    dates->addButton(dateDefined_);
    datePattern_ = choiceList(QStringLiteral("datePattern"), datePatterns(), box);
    timePattern_ = choiceList(QStringLiteral("timePattern"), timePatterns(), box);
    for (auto* l : {datePattern_, timePattern_}) {
        l->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        l->setMinimumContentsLength(14);
    }
    dateExample_ = new QLabel(box);
    dateExample_->setObjectName(QStringLiteral("dateExample"));
    dateExample_->setForegroundRole(QPalette::PlaceholderText);
    auto* dateRow = new QHBoxLayout;
    dateRow->addWidget(dateDefined_);
    dateRow->addWidget(datePattern_);
    dateRow->addWidget(timePattern_);
    dateRow->addWidget(dateExample_, 1);
    grid->addWidget(new QLabel(QStringLiteral("Show dates:"), box), 1, 0);
    grid->addWidget(dateLocale_, 1, 1);
    grid->addLayout(dateRow, 2, 1);
    grid->setColumnStretch(1, 1);
    body()->addWidget(box);

    for (auto* b : {hostsByAddress_, hostsByName_})
        connect(b, &QRadioButton::clicked, this, &ToolsViewOptions::markChanged);
    for (auto* b : {dateLocale_, dateDefined_})
        connect(b, &QRadioButton::clicked, this, &ToolsViewOptions::dateFormatChosen);
    for (auto* l : {datePattern_, timePattern_}) {
        connect(l, &QComboBox::activated, this, &ToolsViewOptions::markChanged);
        connect(l, &QComboBox::currentIndexChanged, this, &ToolsViewOptions::showExample);
    }
}

void ToolsViewOptions::buildSeverities()
{
    auto* box = form::section(QStringLiteral("Severities"), this);
    auto* grid = new QGridLayout(box);
    grid->setHorizontalSpacing(form::kRowSpacing * 2);
    grid->setVerticalSpacing(form::kRowSpacing);
    auto header = [box](const QString& text) {
        auto* l = new QLabel(text, box);
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
        return l;
    };
    grid->addWidget(header(QStringLiteral("Severity")), 0, 0);
    grid->addWidget(header(QStringLiteral("Shown as")), 0, 1);
    grid->addWidget(header(QStringLiteral("Removal of stored events")), 0, 2, 1, 3);
    const QStringList classes{QStringLiteral("Normal"), QStringLiteral("Moderate"), QStringLiteral("Severe")};
    const QStringList units{QStringLiteral("minutes"), QStringLiteral("hours"), QStringLiteral("days")};
    for (std::size_t i = 0; i < kSeverityRows; ++i) {
        const QString stem = stemOf(i);
        Row& r = rows_[i];
        const int y = static_cast<int>(i) + 1;
        grid->addWidget(new QLabel(popupName(i), box), y, 0);
        r.displayClass = choiceList(QStringLiteral("severity") + stem, classes, box);
        r.removal = new QCheckBox(QStringLiteral("Remove after"), box);
        r.removal->setObjectName(QStringLiteral("removal") + stem);
        r.age = form::countField(QStringLiteral("removal") + stem + QStringLiteral("Age"), kMaxAge, QString(), box);
        r.units = choiceList(QStringLiteral("removal") + stem + QStringLiteral("Units"), units, box);
        grid->addWidget(r.displayClass, y, 1);
        grid->addWidget(r.removal, y, 2);
        grid->addWidget(r.age, y, 3);
        grid->addWidget(r.units, y, 4);

        connect(r.displayClass, &QComboBox::activated, this, &ToolsViewOptions::markChanged);
        connect(r.removal, &QCheckBox::clicked, this, [this, i] { removalRow(i, true); });
        connect(r.age, &QSpinBox::valueChanged, this, &ToolsViewOptions::markChanged);
        connect(r.units, &QComboBox::activated, this, &ToolsViewOptions::markChanged);
    }
    grid->setColumnStretch(5, 1);
    body()->addWidget(box);
}

void ToolsViewOptions::buildPopups()
{
    auto* box = form::section(QStringLiteral("Popups and sound for new events"), this);
    auto* grid = new QGridLayout(box);
    grid->setHorizontalSpacing(form::kSpacing * 2);
    grid->setVerticalSpacing(form::kRowSpacing);

    popupEvents_ = new QCheckBox(QStringLiteral("Show popups for"), box);
    popupEvents_->setObjectName(QStringLiteral("popupEvents"));
    popupTimeout_ = form::countField(QStringLiteral("popupTimeout"), kMaxPopupSeconds, QStringLiteral(" s"), box);
    auto* popupRow = new QHBoxLayout;
    popupRow->addWidget(popupEvents_);
    popupRow->addWidget(popupTimeout_);
    popupRow->addStretch(1);
    grid->addLayout(popupRow, 0, 0);

    popupSound_ = new QCheckBox(QStringLiteral("Play sound"), box);
    popupSound_->setObjectName(QStringLiteral("popupSound"));
    popupSoundFile_ = new QLineEdit(box);
    popupSoundFile_->setObjectName(QStringLiteral("popupSoundFile"));
    popupSoundFile_->setPlaceholderText(QStringLiteral("/usr/share/sounds/…/sound.oga"));
    popupSoundBrowse_ = new QPushButton(QStringLiteral("Bro&wse…"), box);
    popupSoundBrowse_->setObjectName(QStringLiteral("popupSoundBrowse"));
    auto* soundRow = new QHBoxLayout;
    soundRow->addWidget(popupSound_);
    soundRow->addWidget(popupSoundFile_, 1);
    soundRow->addWidget(popupSoundBrowse_);
    grid->addLayout(soundRow, 0, 1);

    auto* popupBoxes = new QGridLayout;
    auto* playBoxes = new QGridLayout;
    for (auto* g : {popupBoxes, playBoxes}) {
        g->setContentsMargins(form::kMargin, 0, 0, 0);
        g->setHorizontalSpacing(form::kSpacing);
        g->setVerticalSpacing(form::kRowSpacing);
    }
    for (std::size_t i = 0; i < kSeverityRows; ++i) {
        Row& r = rows_[i];
        r.popup = new QCheckBox(popupName(i), box);
        r.popup->setObjectName(QStringLiteral("popupDisplay") + stemOf(i));
        r.play = new QCheckBox(popupName(i), box);
        r.play->setObjectName(QStringLiteral("popupPlay") + stemOf(i));
        // Three columns of three, in row order down each column.
        const int y = static_cast<int>(i % 3);
        const int x = static_cast<int>(i / 3);
        popupBoxes->addWidget(r.popup, y, x);
        playBoxes->addWidget(r.play, y, x);
        const QString name = popupName(i);
        connect(r.popup, &QCheckBox::clicked, this, [this, name](bool on) {
            if (on && !displayArray_.contains(name))
                displayArray_ << name;
            else if (!on)
                displayArray_.removeOne(name);
            markChanged();
        });
        connect(r.play, &QCheckBox::clicked, this, [this, name](bool on) {
            if (on && !playArray_.contains(name))
                playArray_ << name;
            else if (!on)
                playArray_.removeOne(name);
            markChanged();
        });
    }
    // Both columns list the same severities: the headings say which is which.
    const auto heading = [box](const char* name, const QString& text) {
        auto* l = new QLabel(text, box);
        l->setObjectName(QString::fromLatin1(name));
        l->setContentsMargins(form::kMargin, form::kRowSpacing, 0, 0);
        QFont bold = l->font();
        bold.setBold(true);
        l->setFont(bold);
        return l;
    };
    grid->addWidget(heading("popupColumnHeading", QStringLiteral("Popup for these severities")), 1, 0);
    grid->addWidget(heading("playColumnHeading", QStringLiteral("Sound for these severities")), 1, 1);
    grid->addLayout(popupBoxes, 2, 0, Qt::AlignTop);
    grid->addLayout(playBoxes, 2, 1, Qt::AlignTop);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    body()->addWidget(box);

    // Focus goes down the popup column, then down the sound column.
    QWidget* chain[2 * (3 + kSeverityRows)] = {};
    std::size_t n = 0;
    chain[n++] = popupEvents_;
    chain[n++] = popupTimeout_;
    for (const Row& r : rows_)
        chain[n++] = r.popup;
    chain[n++] = popupSound_;
    chain[n++] = popupSoundFile_;
    chain[n++] = popupSoundBrowse_;
    for (const Row& r : rows_)
        chain[n++] = r.play;
    for (std::size_t i = 1; i < n; ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);

    connect(popupEvents_, &QCheckBox::clicked, this, [this] { popupEvents(true); });
    connect(popupTimeout_, &QSpinBox::valueChanged, this, &ToolsViewOptions::markChanged);
    connect(popupSound_, &QCheckBox::clicked, this, [this] { popupSound(true); });
    connect(popupSoundFile_, &QLineEdit::textEdited, this, &ToolsViewOptions::markChanged);
    connect(popupSoundBrowse_, &QPushButton::clicked, this, &ToolsViewOptions::popupSoundBrowse);
}

ToolsViewOptions::FilterList ToolsViewOptions::buildFilterList(Filters which, const QString& title,
                                                               const QString& about, QWidget* box)
{
    const QString stem = which == Filters::Include ? QStringLiteral("include") : QStringLiteral("exclude");
    FilterList l;
    auto* layout = qobject_cast<QGridLayout*>(box->layout());
    const int y = layout->rowCount();
    auto* heading = new QLabel(QStringLiteral("<b>%1</b> %2").arg(title, about), box);
    heading->setWordWrap(true);
    layout->addWidget(heading, y, 0, 1, 2);

    l.table = new QTableWidget(0, 5, box);
    l.table->setObjectName(stem + QStringLiteral("FiltersTable"));
    l.table->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Host"), QStringLiteral("Facility"),
                                        QStringLiteral("Severity"), QStringLiteral("Message")});
    l.table->setSelectionBehavior(QAbstractItemView::SelectRows);
    l.table->setSelectionMode(QAbstractItemView::SingleSelection);
    l.table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    l.table->verticalHeader()->hide();
    l.table->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = {160, 140, 100, 100};
    for (int x = 0; x < 4; ++x)
        l.table->setColumnWidth(x, widths[x]);
    l.table->setMinimumHeight(110);
    l.table->setMaximumHeight(160);
    l.table->setAlternatingRowColors(true);
    layout->addWidget(l.table, y + 1, 0);

    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(form::kRowSpacing);
    auto button = [&](const char* name, const QString& text) {
        auto* b = new QPushButton(text, box);
        b->setObjectName(stem + QString::fromLatin1(name));
        buttons->addWidget(b);
        return b;
    };
    // The two lists share the page: each its own mnemonics.
    const bool include = which == Filters::Include;
    l.add = button("FiltersAdd", include ? QStringLiteral("&Add…") : QStringLiteral("A&dd…"));
    l.edit = button("FiltersEdit", include ? QStringLiteral("&Edit…") : QStringLiteral("Ed&it…"));
    l.remove = button("FiltersRemove", include ? QStringLiteral("&Remove") : QStringLiteral("Re&move"));
    buttons->addStretch(1);
    layout->addLayout(buttons, y + 1, 1);

    connect(l.add, &QPushButton::clicked, this, [this, which] { openFilter(which, true); });
    connect(l.edit, &QPushButton::clicked, this, [this, which] { openFilter(which, false); });
    connect(l.table, &QTableWidget::doubleClicked, this, [this, which] { openFilter(which, false); });
    connect(l.remove, &QPushButton::clicked, this, [this, which] { removeFilter(which); });
    connect(l.table, &QTableWidget::itemSelectionChanged, this,
            [this, which] { filterSelectionChanged(list(which)); });
    return l;
}

void ToolsViewOptions::buildFilters()
{
    auto* box = form::section(QStringLiteral("Filters"), this);
    auto* grid = new QGridLayout(box);
    grid->setHorizontalSpacing(form::kRowSpacing * 2);
    grid->setVerticalSpacing(form::kRowSpacing);
    grid->setColumnStretch(0, 1);
    include_ = buildFilterList(Filters::Include, QStringLiteral("Include filters:"),
                               QStringLiteral("when there are any, only events that match one are kept."), box);
    exclude_ = buildFilterList(Filters::Exclude, QStringLiteral("Exclude filters:"),
                               QStringLiteral("events that match one are dropped."), box);
    body()->addWidget(box);
}

// Loading -----------------------------------------------------------------

void ToolsViewOptions::loadSettings(const nlohmann::json& settings, bool fileRead)
{
    // Without a settings file the defaults apply; with one, every value
    // comes from it and a missing key reads as 0, false, "" or empty.
    const auto integer = [&](std::string_view k, std::int64_t fallback) {
        return fileRead ? readInteger(settings, k).value_or(0) : fallback;
    };
    const bool byName = fileRead && readBoolean(settings, key::hostsDisplay).value_or(false);
    (byName ? hostsByName_ : hostsByAddress_)->setChecked(true);

    loadDateFormat(fileRead ? QString::fromStdString(readString(settings, key::dateFormat).value_or("")) : QString());

    for (std::size_t i = 0; i < kSeverityRows; ++i) {
        Row& r = rows_[i];
        r.storedClass = integer(kSeverityClassKeys[i], kDefaultSeverityClasses[i]);
        r.displayClass->setCurrentIndex(isDisplayClass(r.storedClass) ? static_cast<int>(r.storedClass) : -1);
        const std::int64_t age = integer(kRemovalAgeKeys[i], kDefaultAge);
        const std::int64_t unit = integer(kRemovalUnitKeys[i], kDefaultUnit);
        r.removal->setChecked(age != 0);
        if (age != 0) {
            form::setCountOn(r.age, true, form::countValue(age, kMaxAge));
            r.units->setCurrentIndex(unit >= 0 && unit <= 2 ? static_cast<int>(unit) : -1);
        }
        removalRow(i, false);
    }

    // Popups: 0 or less means none.
    const std::int64_t seconds = integer(key::popupEvents, 0);
    displayArray_ = fileRead ? stringArray(settings, key::popupDisplayArray) : QStringList();
    popupEvents_->setChecked(seconds > 0);
    for (std::size_t i = 0; i < kSeverityRows; ++i)
        rows_[i].popup->setChecked(displayArray_.contains(popupName(i)));
    form::setCountOn(popupTimeout_, seconds > 0, form::countValue(seconds, kMaxPopupSeconds));
    popupEvents(false);

    const QString sound = fileRead ? QString::fromStdString(readString(settings, key::popupSound).value_or("")) : QString();
    playArray_ = fileRead ? stringArray(settings, key::popupPlayArray) : QStringList();
    popupSound_->setChecked(!sound.isEmpty());
    popupSoundFile_->setText(sound);
    for (std::size_t i = 0; i < kSeverityRows; ++i)
        rows_[i].play->setChecked(playArray_.contains(popupName(i)));
    popupSound(false);

    include_.array = fileRead ? recordArray(settings, key::includeFiltersArray) : nlohmann::json::array();
    exclude_.array = fileRead ? recordArray(settings, key::excludeFiltersArray) : nlohmann::json::array();
    fillTable(include_);
    fillTable(exclude_);
    reception_->load(settings);
}

void ToolsViewOptions::loadDateFormat(const QString& dateFormat)
{
    dropAddedEntries(datePattern_, static_cast<int>(datePatterns().size()));
    dropAddedEntries(timePattern_, static_cast<int>(timePatterns().size()));
    if (dateFormat.isEmpty()) {
        dateLocale_->setChecked(true);
        for (auto* l : {datePattern_, timePattern_}) {
            l->setCurrentIndex(-1);
            l->setEnabled(false);
        }
        showExample();
        return;
    }
    dateDefined_->setChecked(true);
    datePattern_->setEnabled(true);
    timePattern_->setEnabled(true);
    const QString text = dateFormat.trimmed();
    const qsizetype blank = text.indexOf(QLatin1Char(' '));
    selectOrAdd(datePattern_, blank < 0 ? text : text.left(blank));
    if (blank < 0) {
        // A date without a time: nothing chosen, and a save keeps it so.
        timePattern_->setCurrentIndex(-1);
    } else {
        const QString rest = text.mid(blank + 1).trimmed();
        const QString piece = rest.section(QLatin1Char(' '), 0, 0);
        // A 12-hour piece selects its " AM/PM" entry; anything that is no
        // entry is kept as it was written.
        const QString twelve = piece + QStringLiteral(" AM/PM");
        if (timePattern_->findText(rest) < 0 && piece.startsWith(QLatin1Char('h'))
            && timePattern_->findText(twelve) >= 0)
            selectOrAdd(timePattern_, twelve);
        else
            selectOrAdd(timePattern_, rest);
    }
    showExample();
}

// Control actions ---------------------------------------------------------

void ToolsViewOptions::dateFormatChosen()
{
    const bool defined = dateDefined_->isChecked();
    for (auto* l : {datePattern_, timePattern_}) {
        l->setEnabled(defined);
        l->setCurrentIndex(defined ? 0 : -1);
    }
    showExample();
    markChanged();
}

void ToolsViewOptions::showExample()
{
    const QString format = dateFormatText();
    const DateFormatter formatter(format.toStdString());
    dateExample_->setText(QStringLiteral("for example %1")
                              .arg(QString::fromStdString(
                                  formatter.format(static_cast<double>(QDateTime::currentSecsSinceEpoch())))));
}

void ToolsViewOptions::removalRow(std::size_t row, bool byClick)
{
    Row& r = rows_[row];
    if (r.removal->isChecked()) {
        r.age->setEnabled(true);
        r.units->setEnabled(true);
        if (byClick) {
            // A row switched on starts at one minute, whatever was there.
            form::setCountOn(r.age, true, 1);
            r.units->setCurrentIndex(0);
        }
    } else {
        form::setCountOn(r.age, false, 0);
        r.units->setCurrentIndex(-1);
        r.units->setEnabled(false);
    }
    if (byClick)
        markChanged();
}

void ToolsViewOptions::popupEvents(bool byClick)
{
    const bool on = popupEvents_->isChecked();
    popupTimeout_->setEnabled(on);
    for (std::size_t i = 0; i < kSeverityRows; ++i)
        rows_[i].popup->setEnabled(on);
    if (on) {
        if (byClick) {
            form::setCountOn(popupTimeout_, true, kClickPopupSeconds);
            for (std::size_t i = 0; i < kSeverityRows; ++i) {
                rows_[i].popup->setChecked(true);
                if (!displayArray_.contains(popupName(i)))
                    displayArray_ << popupName(i);
            }
        }
    } else {
        form::setCountOn(popupTimeout_, false, 0);
        for (std::size_t i = 0; i < kSeverityRows; ++i)
            rows_[i].popup->setChecked(false);
        displayArray_.clear();
    }
    if (byClick)
        markChanged();
}

void ToolsViewOptions::popupSound(bool byClick)
{
    const bool on = popupSound_->isChecked();
    popupSoundFile_->setEnabled(on);
    popupSoundBrowse_->setEnabled(on);
    for (std::size_t i = 0; i < kSeverityRows; ++i)
        rows_[i].play->setEnabled(on);
    if (on) {
        if (byClick) {
            for (std::size_t i = 0; i < kSeverityRows; ++i) {
                rows_[i].play->setChecked(true);
                if (!playArray_.contains(popupName(i)))
                    playArray_ << popupName(i);
            }
        }
    } else {
        popupSoundFile_->clear();
        for (std::size_t i = 0; i < kSeverityRows; ++i)
            rows_[i].play->setChecked(false);
        playArray_.clear();
    }
    if (byClick)
        markChanged();
}

void ToolsViewOptions::popupSoundBrowse()
{
    const QString current = popupSoundFile_->text();
    const QString start = current.isEmpty() ? QString::fromLatin1(kSoundDirectory) : QFileInfo(current).absolutePath();
    if (const auto path = form::chooseFile(this, form::FileChoice::Open, QStringLiteral("Sound file"),
                                           QStringLiteral("Please select sound file name with 'wav' or "
                                                          "'oga' extension:"),
                                           {QStringLiteral("Sounds (*.wav *.oga)")}, start)) {
        popupSoundFile_->setText(*path);
        markChanged();
    }
}

// Filter lists --------------------------------------------------------------

void ToolsViewOptions::fillTable(FilterList& l)
{
    l.table->clearContents();
    l.table->setRowCount(static_cast<int>(l.array.size()));
    int y = 0;
    for (const auto& record : l.array) {
        const auto text = [&record](std::string_view k) {
            return QString::fromStdString(recordText(record, k).value_or(""));
        };
        const QString cells[] = {text("Name"), text("IP") + QStringLiteral("/") + text("Mask"), text("Facility"),
                                 text("Severity"), text("Message")};
        for (int x = 0; x < 5; ++x)
            l.table->setItem(y, x, new QTableWidgetItem(cells[x]));
        ++y;
    }
    l.table->clearSelection();
    filterSelectionChanged(l);
}

int ToolsViewOptions::selectedFilter(const FilterList& l) const
{
    const auto rows = l.table->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return -1;
    const int row = rows.first().row();
    return row < static_cast<int>(l.array.size()) ? row : -1;
}

void ToolsViewOptions::filterSelectionChanged(FilterList& l)
{
    const bool selected = selectedFilter(l) >= 0;
    l.edit->setEnabled(selected);
    l.remove->setEnabled(selected);
}

void ToolsViewOptions::openFilter(Filters which, bool add)
{
    FilterList& l = list(which);
    if (add) {
        // Add makes a new filter even while a row is selected.
        l.table->clearSelection();
        filterSelectionChanged(l);
    }
    const int index = selectedFilter(l);
    if (!add && index < 0)
        return;
    std::optional<nlohmann::json> record;
    if (index >= 0)
        record = l.array[static_cast<std::size_t>(index)];
    auto* view = new ToolsViewFilter(this, record);
    view->setAttribute(Qt::WA_DeleteOnClose);
    filterView_ = view;
    connect(view, &QDialog::accepted, this, [this, which, index, view] {
        FilterList& target = list(which);
        const nlohmann::json made = view->record();
        if (index >= 0 && index < static_cast<int>(target.array.size())) {
            target.array[static_cast<std::size_t>(index)] = made;
            fillTable(target);
            target.table->selectRow(index);
        } else {
            target.array.push_back(made);
            fillTable(target);
        }
        markChanged();
    });
    view->open();
}

void ToolsViewOptions::removeFilter(Filters which)
{
    FilterList& l = list(which);
    const int index = selectedFilter(l);
    if (index < 0)
        return;
    // Removal is by equality: records equal in every field go together.
    const nlohmann::json gone = l.array[static_cast<std::size_t>(index)];
    nlohmann::json kept = nlohmann::json::array();
    for (const auto& record : l.array)
        if (record != gone)
            kept.push_back(record);
    l.array = std::move(kept);
    fillTable(l);
    markChanged();
}

// Saving --------------------------------------------------------------------

QString ToolsViewOptions::dateFormatText() const
{
    if (!dateDefined_->isChecked() || datePattern_->currentIndex() < 0)
        return {};
    if (timePattern_->currentIndex() < 0)
        return datePattern_->currentText();
    return QStringLiteral("%1 %2").arg(datePattern_->currentText(), timePattern_->currentText());
}

void ToolsViewOptions::storeSettings(nlohmann::json& settings) const
{
    settings[std::string(key::hostsDisplay)] = hostsByName_->isChecked();
    settings[std::string(key::dateFormat)] = dateFormatText().toStdString();
    for (std::size_t i = 0; i < kSeverityRows; ++i) {
        const Row& r = rows_[i];
        const int chosen = r.displayClass->currentIndex();
        settings[std::string(kSeverityClassKeys[i])] = chosen >= 0 ? std::int64_t{chosen} : r.storedClass;
        const bool on = r.removal->isChecked();
        settings[std::string(kRemovalAgeKeys[i])] = on ? r.age->value() : 0;
        settings[std::string(kRemovalUnitKeys[i])] = on ? r.units->currentIndex() : -1;
    }
    settings[std::string(key::popupEvents)] = popupEvents_->isChecked() ? popupTimeout_->value() : 0;
    settings[std::string(key::popupSound)] = popupSoundFile_->text().toStdString();
    settings[std::string(key::popupDisplayArray)] = toJson(displayArray_);
    settings[std::string(key::popupPlayArray)] = toJson(playArray_);
    settings[std::string(key::includeFiltersArray)] = include_.array;
    settings[std::string(key::excludeFiltersArray)] = exclude_.array;
    reception_->store(settings);
}

void ToolsViewOptions::afterSave()
{
    nlohmann::json saved = nlohmann::json::object();
    storeSettings(saved);
    Q_EMIT settingsSaved(AppSettings::fromDictionary(saved));
}

QStringList ToolsViewOptions::saveWarnings() const
{
    QStringList out;
    if (popupSound_->isChecked())
        if (auto w = form::missingFileWarning(QStringLiteral("The sound file"), popupSoundFile_->text().trimmed()))
            out << *w + QStringLiteral(" No sound will play.");
    return out;
}

QString ToolsViewOptions::saveRefusal() const
{
    return reception_->problem();
}

} // namespace brantwell
