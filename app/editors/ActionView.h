// The action editor: which events an action matches (the filter fields)
// and its three commands, each with a box and a link to its sheet. The
// sheets change the working dictionaries; Save builds the record.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>

#include <nlohmann/json.hpp>

#include "EditorPage.h"
#include "FilterFields.h"

namespace brantwell {

// A button drawn as a link, with a pointing hand over it.
class ActionViewLink final : public QPushButton {
    Q_OBJECT
public:
    ActionViewLink(const QString& objectName, const QString& text, QWidget* parent);
};

class ActionView final : public EditorDialog {
    Q_OBJECT
public:
    // `record`: the action to edit, or null for a new one.
    ActionView(const nlohmann::json* record, QWidget* parent);

    // The record built by Save: all nine keys, and any other key the
    // edited record had.
    const nlohmann::json& result() const { return result_; }

    void commandRun(bool on);
    void commandRunText();
    void commandEmail(bool on);
    void commandEmailText();
    void commandEvent(bool on);
    void commandEventText();

    // The working copies the command sheets change.
    nlohmann::json runCommand = nlohmann::json::object();
    nlohmann::json sendEmail = nlohmann::json::object();
    nlohmann::json setEvent = nlohmann::json::object();

protected:
    bool onSave() override;
    void showEvent(QShowEvent* event) override;

private:
    void openSheet(QDialog* sheet);
    void showLimit();
    void writeLimit();

    nlohmann::json result_ = nlohmann::json::object();
    FilterFields* fields_ = nullptr;
    QCheckBox* actionRun = nullptr;
    QCheckBox* actionEmail = nullptr;
    QCheckBox* actionEvent = nullptr;
    QWidget* blank_ = nullptr;
    // "At most N times per M seconds/minutes/hours": "ThrottleCount" and
    // "ThrottleSeconds"; off removes both.
    QCheckBox* limit_ = nullptr;
    QSpinBox* limitCount_ = nullptr;
    QSpinBox* limitPeriod_ = nullptr;
    QComboBox* limitUnit_ = nullptr;
};

} // namespace brantwell
