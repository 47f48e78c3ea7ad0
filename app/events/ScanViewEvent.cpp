#include "ScanViewEvent.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QVBoxLayout>

#include "EventFilterProxy.h"

namespace brantwell {

ScanViewEvent::ScanViewEvent(QTableView* table, QWidget* parent) : QDialog(parent), table_(table)
{
    build();
    takeRow(selectedPosition());
    setDetails();
}

ScanViewEvent::ScanViewEvent(const EventRecord& record, const QString& shownDate, QWidget* parent)
    : QDialog(parent), hideButtons_(true), dict_(record), shownDate_(shownDate)
{
    build();
    setDetails();
}

void ScanViewEvent::build()
{
    setObjectName(QStringLiteral("eventView"));
    setWindowTitle(QStringLiteral("Brantwell Event"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    auto makeLabel = [this](const char* name) {
        auto* l = new QLabel(this);
        l->setObjectName(QString::fromLatin1(name));
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return l;
    };
    eventDate_ = makeLabel("eventDate");
    eventPriority_ = makeLabel("eventPriority");
    eventHost_ = makeLabel("eventHost");
    form->addRow(QStringLiteral("Date:"), eventDate_);
    form->addRow(QStringLiteral("Priority:"), eventPriority_);
    form->addRow(QStringLiteral("Host:"), eventHost_);
    layout->addLayout(form);
    eventMessage_ = new QPlainTextEdit(this);
    eventMessage_->setObjectName(QStringLiteral("eventMessage"));
    eventMessage_->setReadOnly(true);
    layout->addWidget(eventMessage_, 1);

    auto* buttons = new QHBoxLayout;
    eventUp_ = new QPushButton(QStringLiteral("&Up"), this);
    eventUp_->setObjectName(QStringLiteral("eventUp"));
    eventDown_ = new QPushButton(QStringLiteral("&Down"), this);
    eventDown_->setObjectName(QStringLiteral("eventDown"));
    connect(eventUp_, &QPushButton::clicked, this, &ScanViewEvent::onUp);
    connect(eventDown_, &QPushButton::clicked, this, &ScanViewEvent::onDown);
    buttons->addWidget(eventUp_);
    buttons->addWidget(eventDown_);
    buttons->addStretch(1);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    // OK and Cancel both only close the window.
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    buttons->addWidget(box);
    layout->addLayout(buttons);
    resize(520, 320);
}

int ScanViewEvent::selectedPosition() const
{
    if (!table_ || !table_->selectionModel())
        return -1;
    const auto* selection = table_->selectionModel();
    const QModelIndex current = selection->currentIndex();
    if (current.isValid() && selection->isRowSelected(current.row(), {}))
        return current.row();
    const auto rows = selection->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void ScanViewEvent::takeRow(int row)
{
    if (!table_ || row < 0 || row >= table_->model()->rowCount())
        return;
    const auto* proxy = qobject_cast<const EventFilterProxy*>(table_->model());
    if (!proxy)
        return;
    const int sourceRow = proxy->mapToSource(proxy->index(row, 0)).row();
    dict_ = proxy->events()->record(sourceRow);
    shownDate_ = proxy->events()->displayDate(sourceRow);
}

void ScanViewEvent::setDetails()
{
    eventDate_->setText(shownDate_);
    eventPriority_->setText(QString::fromStdString(dict_.priority));
    eventHost_->setText(QString::fromStdString(dict_.host));
    eventMessage_->setPlainText(QString::fromStdString(dict_.message));
    if (hideButtons_ || !table_) {
        eventUp_->hide();
        eventDown_->hide();
        return;
    }
    const int position = selectedPosition();
    const int rows = table_->model()->rowCount();
    eventDown_->setEnabled(position != rows - 1);
    eventUp_->setEnabled(position != 0);
}

void ScanViewEvent::onUp()
{
    step(-1);
}

void ScanViewEvent::onDown()
{
    step(+1);
}

void ScanViewEvent::step(int delta)
{
    if (!table_)
        return;
    const int next = selectedPosition() + delta;
    if (next < 0 || next >= table_->model()->rowCount())
        return;
    const QModelIndex index = table_->model()->index(next, 0);
    table_->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    table_->scrollTo(index);
    takeRow(next);
    setDetails();
}

} // namespace brantwell
