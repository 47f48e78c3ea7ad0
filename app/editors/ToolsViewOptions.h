// The options editor: how events are shown (hosts, date format, display
// class per severity), after what age they are removed, popups and sound
// per severity, the include and exclude filters, and reception over TCP
// and TLS.
#pragma once

#include <array>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStringList>
#include <QTableWidget>

#include "EditorPage.h"
#include "ReceptionGroup.h"
#include "SettingsKeys.h"
#include "ToolsViewFilter.h"
#include "common/AppSettings.h"

namespace brantwell {

class ToolsViewOptions final : public EditorPage {
    Q_OBJECT
public:
    explicit ToolsViewOptions(EditorContext context, QWidget* parent = nullptr);

    // Entries of the two pattern lists: 24-hour time entries begin with
    // "H", 12-hour ones end in " AM/PM".
    static const QStringList& datePatterns();
    static const QStringList& timePatterns();

    // Control actions; `byClick` is false while the page loads.
    void dateFormatChosen();
    void removalRow(std::size_t row, bool byClick);
    void popupEvents(bool byClick);
    void popupSound(bool byClick);
    void popupSoundBrowse();

    enum class Filters { Include, Exclude };
    // Add (`add` true) or Edit of a filter list: opens the filter editor.
    void openFilter(Filters which, bool add);
    void removeFilter(Filters which);
    // The filter editor while it is open.
    ToolsViewFilter* filterView() const { return filterView_; }

    const QStringList& popupDisplayArray() const { return displayArray_; }
    const QStringList& popupPlayArray() const { return playArray_; }
    const nlohmann::json& filtersArray(Filters which) const { return list(which).array; }

Q_SIGNALS:
    // The daemon took a save: the display and popup values in force now.
    void settingsSaved(const AppSettings& settings);

protected:
    void loadSettings(const nlohmann::json& settings, bool fileRead) override;
    void storeSettings(nlohmann::json& settings) const override;
    void afterSave() override;
    QStringList saveWarnings() const override;
    QString saveRefusal() const override;

private:
    struct Row {
        QComboBox* displayClass = nullptr;
        QCheckBox* removal = nullptr;
        QSpinBox* age = nullptr;
        QComboBox* units = nullptr;
        QCheckBox* popup = nullptr;
        QCheckBox* play = nullptr;
        std::int64_t storedClass = 0;  // kept when it is none of the three
    };
    struct FilterList {
        QTableWidget* table = nullptr;
        QPushButton* add = nullptr;
        QPushButton* edit = nullptr;
        QPushButton* remove = nullptr;
        nlohmann::json array = nlohmann::json::array();
    };

    void buildDisplay();
    void buildSeverities();
    void buildPopups();
    void buildFilters();
    FilterList buildFilterList(Filters which, const QString& title, const QString& about, QWidget* box);
    FilterList& list(Filters which) { return which == Filters::Include ? include_ : exclude_; }
    const FilterList& list(Filters which) const { return which == Filters::Include ? include_ : exclude_; }
    void fillTable(FilterList& l);
    int selectedFilter(const FilterList& l) const;
    void filterSelectionChanged(FilterList& l);
    void loadDateFormat(const QString& dateFormat);
    QString dateFormatText() const;
    void showExample();

    QRadioButton* hostsByAddress_ = nullptr;
    QRadioButton* hostsByName_ = nullptr;
    QRadioButton* dateLocale_ = nullptr;
    QRadioButton* dateDefined_ = nullptr;
    QComboBox* datePattern_ = nullptr;
    QComboBox* timePattern_ = nullptr;
    QLabel* dateExample_ = nullptr;
    std::array<Row, kSeverityRows> rows_{};
    QCheckBox* popupEvents_ = nullptr;
    QSpinBox* popupTimeout_ = nullptr;
    QCheckBox* popupSound_ = nullptr;
    QLineEdit* popupSoundFile_ = nullptr;
    QPushButton* popupSoundBrowse_ = nullptr;
    FilterList include_;
    FilterList exclude_;
    QStringList displayArray_;
    QStringList playArray_;
    QPointer<ToolsViewFilter> filterView_;
    ReceptionGroup* reception_ = nullptr;
};

} // namespace brantwell
