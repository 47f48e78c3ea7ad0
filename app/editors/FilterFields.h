// The six match fields of a filter or an action record (name, sender
// address and mask, facility, severity, message) with the four "any"
// buttons. The filter editor and the action editor both show it.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QWidget>

#include <nlohmann/json.hpp>

namespace brantwell {

class FilterFields final : public QWidget {
    Q_OBJECT
public:
    explicit FilterFields(QWidget* parent = nullptr);

    // Entries of the two lists: the match-all entry "*", then the names.
    static const QStringList& facilityEntries();
    static const QStringList& severityEntries();

    // New record: "New Filter", "0.0.0.0", "0", "*", "*", "*"; name editable.
    void showNew(const QString& name = QStringLiteral("New Filter"));
    // Edit mode: the record's texts, the name fixed. A facility or severity
    // text that is none of the entries is shown and kept as it is.
    void showRecord(const nlohmann::json& record);

    // The six texts as typed: Name, IP, Mask, Facility, Severity, Message.
    nlohmann::json record() const;
    // Writes the six keys into `record`, leaving its other keys alone (the
    // action record keeps its commands).
    void writeInto(nlohmann::json& record) const;

    void anyHost();
    void anyFacility();
    void anySeverity();
    void anyMessage();

    QLineEdit* nameField() const { return name_; }

    // Whether every field holds what the daemon can use: a name, an IPv4
    // address, a mask from 0 to 32, patterns that are not empty. Each field
    // that does not shows why beside it.
    bool isValid() const { return valid_; }

Q_SIGNALS:
    // A field changed by the user or by an "any" button.
    void edited();
    void validityChanged(bool valid);

private:
    QLineEdit* name_ = nullptr;
    QLineEdit* ip_ = nullptr;
    QLineEdit* mask_ = nullptr;
    QComboBox* facility_ = nullptr;
    QComboBox* severity_ = nullptr;
    QLineEdit* message_ = nullptr;
    // One reason line per field, in the row below it; hidden when the
    // field is right.
    QLabel* nameProblem_ = nullptr;
    QLabel* hostProblem_ = nullptr;
    QLabel* facilityProblem_ = nullptr;
    QLabel* severityProblem_ = nullptr;
    QLabel* messageProblem_ = nullptr;
    bool valid_ = true;

    void check();
};

} // namespace brantwell
