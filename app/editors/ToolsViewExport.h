// The export editor: the daemon's periodic copy of the store to a text or
// CSV file and to an SQLite database, each switched on with an interval in
// minutes and a location.
#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "EditorPage.h"

namespace brantwell {

class ToolsViewExport final : public EditorPage {
    Q_OBJECT
public:
    explicit ToolsViewExport(EditorContext context, QWidget* parent = nullptr);

    // The two export boxes; `byClick` is false while the page loads.
    void exportText(bool byClick);
    void exportDatabase(bool byClick);
    void browseText();
    void browseDatabase();

protected:
    void loadSettings(const nlohmann::json& settings, bool fileRead) override;
    void storeSettings(nlohmann::json& settings) const override;

private:
    // The controls of one export: box, interval, location, Browse.
    struct Export {
        QCheckBox* box = nullptr;
        QSpinBox* interval = nullptr;
        QLineEdit* location = nullptr;
        QPushButton* browse = nullptr;
    };
    Export build(const char* stem, const QString& title, const QString& placeholder);
    void exportBox(const Export& e, bool byClick);
    void browse(const Export& e, const QString& title, const QString& message,
                const QStringList& filters, const QString& suffix);
    void showExport(const Export& e, std::int64_t interval, const std::string& location);

    Export text_;
    Export database_;
};

} // namespace brantwell
