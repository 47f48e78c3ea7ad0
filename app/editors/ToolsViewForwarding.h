// The Forwarding page: the upstream servers every stored event is relayed
// to, with Add, Edit and Remove. Save stores the list as "forwardingArray".
#pragma once

#include <QPushButton>
#include <QTableWidget>

#include <nlohmann/json.hpp>

#include "EditorPage.h"

namespace brantwell {

class ToolsViewForwarding final : public EditorPage {
    Q_OBJECT
public:
    explicit ToolsViewForwarding(EditorContext context, QWidget* parent = nullptr);

    // Add (`add` true) or Edit: the destination sheet, window-modal.
    void editDestination(bool add);
    void removeDestination();

    const nlohmann::json& forwardingArray() const { return forwardingArray_; }

protected:
    void loadSettings(const nlohmann::json& settings, bool fileRead) override;
    void storeSettings(nlohmann::json& settings) const override;

private:
    void fillTable();
    void selectionChanged();
    int selectedRow() const;

    nlohmann::json forwardingArray_ = nlohmann::json::array();
    QTableWidget* table_ = nullptr;
    QPushButton* edit_ = nullptr;
    QPushButton* remove_ = nullptr;
};

} // namespace brantwell
