// The destination sheet of the Forwarding page: the name and the events a
// destination relays (the filter fields), and the upstream server: host,
// port, transport, format, the TLS files and the queue's size. A field the
// daemon cannot use says why beside it and keeps Save off.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QStringList>

#include <nlohmann/json.hpp>

#include "EditorPage.h"
#include "FilterFields.h"

namespace brantwell {

class ForwardingSheet final : public EditorDialog {
    Q_OBJECT
public:
    // `record`: the destination to edit, or null for a new one. `takenNames`:
    // the other destinations' names, which this one may not use (each
    // names its own queue).
    ForwardingSheet(const nlohmann::json* record, QStringList takenNames, QWidget* parent);

    // The record built by Save, with any other key the edited one had.
    const nlohmann::json& result() const { return result_; }
    bool isValid() const { return valid_; }

protected:
    bool onSave() override;

private:
    void check();
    nlohmann::json serverRecord() const;

    QStringList takenNames_;
    nlohmann::json result_ = nlohmann::json::object();
    FilterFields* fields_ = nullptr;
    QLineEdit* host_ = nullptr;
    PortField* port_ = nullptr;
    QComboBox* transport_ = nullptr;
    QComboBox* format_ = nullptr;
    QLineEdit* caFile_ = nullptr;
    QLineEdit* certificate_ = nullptr;
    QLineEdit* key_ = nullptr;
    QSpinBox* queue_ = nullptr;
    QLabel* nameProblem_ = nullptr;
    QLabel* hostProblem_ = nullptr;
    QLabel* portProblem_ = nullptr;
    QLabel* filesProblem_ = nullptr;
    bool valid_ = false;
};

} // namespace brantwell
