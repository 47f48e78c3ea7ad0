// The details window of one event: date, priority and host on a line each,
// the message in a scrollable text. Opened from the event list it has Up
// and Down, which step through the list's rows.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>

#include "EventRecord.h"

namespace brantwell {

class ScanViewEvent final : public QDialog {
    Q_OBJECT
public:
    // Shows the selected row of `table`, whose model is the event list
    // (through its filter proxy); Up and Down step through that table.
    ScanViewEvent(QTableView* table, QWidget* parent = nullptr);
    // Shows one event on its own, without Up and Down.
    ScanViewEvent(const EventRecord& record, const QString& shownDate, QWidget* parent = nullptr);

    void setDetails();
    void onUp();
    void onDown();

    const EventRecord& record() const { return dict_; }

private:
    void build();
    int selectedPosition() const;
    void step(int delta);
    void takeRow(int row);

    QTableView* table_ = nullptr;
    bool hideButtons_ = false;
    EventRecord dict_;
    QString shownDate_;

    QLabel* eventDate_ = nullptr;
    QLabel* eventPriority_ = nullptr;
    QLabel* eventHost_ = nullptr;
    QPlainTextEdit* eventMessage_ = nullptr;
    QPushButton* eventUp_ = nullptr;
    QPushButton* eventDown_ = nullptr;
};

} // namespace brantwell
