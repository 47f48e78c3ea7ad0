// The filter editor: a window-modal dialog over the options page that makes
// a new include or exclude filter or changes one. The record is built when
// Save is pressed; the options page puts it into its list.
#pragma once

#include <optional>

#include "EditorPage.h"
#include "FilterFields.h"

namespace brantwell {

class ToolsViewFilter final : public EditorDialog {
    Q_OBJECT
public:
    // `record` given: edit mode, its name fixed; otherwise a new filter.
    ToolsViewFilter(QWidget* parent, const std::optional<nlohmann::json>& record);

    bool isNew() const { return isNew_; }
    // The record as the fields hold it now.
    nlohmann::json record() const;
    FilterFields* fields() const { return fields_; }

private:
    FilterFields* fields_ = nullptr;
    nlohmann::json original_;  // edit mode: keys beyond the six stay
    bool isNew_ = true;
};

} // namespace brantwell
