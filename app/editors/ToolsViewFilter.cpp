#include "ToolsViewFilter.h"

#include <QLabel>

namespace brantwell {

ToolsViewFilter::ToolsViewFilter(QWidget* parent, const std::optional<nlohmann::json>& record)
    : EditorDialog(QStringLiteral("filterView"), record ? QStringLiteral("Edit filter") : QStringLiteral("New filter"),
                   parent),
      isNew_(!record)
{
    auto* intro = new QLabel(QStringLiteral("An event matches when it comes from the host range and its "
                                            "facility, severity and message match the patterns "
                                            "(* any text, ? one character, case ignored)."),
                             this);
    intro->setWordWrap(true);
    body()->addWidget(intro);
    fields_ = new FilterFields(this);
    body()->addWidget(fields_);
    // Neutral focus first, so that Enter saves and no field is typed into
    // by accident.
    auto* blank = new QWidget(this);
    blank->setObjectName(QStringLiteral("filterBlank"));
    blank->setFocusPolicy(Qt::StrongFocus);
    blank->setFixedSize(0, 0);
    body()->insertWidget(0, blank);
    if (record) {
        original_ = *record;
        fields_->showRecord(*record);
    } else {
        fields_->showNew();
    }
    // Save only once the daemon can use the filter.
    buttons()->save()->setEnabled(fields_->isValid());
    connect(fields_, &FilterFields::validityChanged, buttons()->save(), &QPushButton::setEnabled);
    setMinimumWidth(520);
    resize(sizeHint().expandedTo(QSize(560, 0)));
    blank->setFocus(Qt::OtherFocusReason);
}

nlohmann::json ToolsViewFilter::record() const
{
    nlohmann::json r = original_.is_object() ? original_ : nlohmann::json::object();
    fields_->writeInto(r);
    return r;
}

} // namespace brantwell
