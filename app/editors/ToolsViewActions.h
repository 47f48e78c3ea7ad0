// The actions page: the list of automatic actions with Add, Edit and
// Remove, and the links to the e-mail server, format and test sheets. Save
// stores the list as "actionsArray".
#pragma once

#include <functional>
#include <string>

#include <QPushButton>
#include <QTableWidget>

#include <nlohmann/json.hpp>

#include "EditorPage.h"

namespace brantwell {

class ToolsViewActions final : public EditorPage {
    Q_OBJECT
public:
    // `dateFormat` gives the display's date format at the moment of a test.
    ToolsViewActions(EditorContext context, std::function<std::string()> dateFormat, QWidget* parent = nullptr);

    // Add (`add` true) or Edit: the action editor, window-modal.
    void automaticActions(bool add);
    void removeActions();
    void emailServer();
    void emailFormat();
    void emailTest();

    const nlohmann::json& actionsArray() const { return actionsArray_; }

protected:
    void loadSettings(const nlohmann::json& settings, bool fileRead) override;
    void storeSettings(nlohmann::json& settings) const override;

private:
    void fillTable();
    void automaticActionsTable();  // the selection changed
    int selectedRow() const;

    nlohmann::json actionsArray_ = nlohmann::json::array();
    std::function<std::string()> dateFormat_;
    QTableWidget* table_ = nullptr;
    QPushButton* edit_ = nullptr;
    QPushButton* remove_ = nullptr;
};

} // namespace brantwell
