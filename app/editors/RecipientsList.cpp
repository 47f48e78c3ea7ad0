#include "RecipientsList.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>

#include "EditorPage.h"

namespace brantwell {

RecipientsList::RecipientsList(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("recipients"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(form::kRowSpacing);

    auto* label = new QLabel(QStringLiteral("&Recipient:"), this);
    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("recipientField"));
    field_->setPlaceholderText(QStringLiteral("name@example.com"));
    label->setBuddy(field_);
    add_ = new QPushButton(QStringLiteral("&Add"), this);
    add_->setObjectName(QStringLiteral("addRecipient"));
    add_->setAutoDefault(false);
    add_->setEnabled(false);
    auto* row = new QHBoxLayout;
    row->setSpacing(form::kRowSpacing);
    row->addWidget(label);
    row->addWidget(field_, 1);
    row->addWidget(add_);
    column->addLayout(row);

    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("recipientsList"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setMinimumHeight(90);
    column->addWidget(list_, 1);

    remove_ = new QPushButton(QStringLiteral("Re&move selected recipient"), this);
    remove_->setObjectName(QStringLiteral("removeRecipient"));
    remove_->setFlat(true);
    remove_->setAutoDefault(false);
    remove_->setCursor(Qt::PointingHandCursor);
    QFont small = remove_->font();
    small.setPointSize(11);
    small.setUnderline(true);
    remove_->setFont(small);
    remove_->setStyleSheet(QStringLiteral("QPushButton { color: palette(link); border: none; text-align: left; }"));
    auto* foot = new QHBoxLayout;
    foot->addWidget(remove_);
    foot->addStretch(1);
    column->addLayout(foot);

    connect(field_, &QLineEdit::textChanged, this, [this](const QString& text) { add_->setEnabled(!text.isEmpty()); });
    // Enter in the field adds the address and does nothing else: the
    // key is taken here, so the sheet's default button never sees it.
    field_->installEventFilter(this);
    connect(add_, &QPushButton::clicked, this, &RecipientsList::addRecipient);
    connect(remove_, &QPushButton::clicked, this, &RecipientsList::removeRecipient);
}

bool RecipientsList::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == field_ && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (event->type() == QEvent::KeyPress)
                addRecipient();
            event->accept();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void RecipientsList::setAddresses(const QStringList& addresses)
{
    list_->clear();
    list_->addItems(addresses);
    list_->clearSelection();
    list_->setCurrentRow(-1);
}

QStringList RecipientsList::addresses() const
{
    QStringList out;
    for (int i = 0; i < list_->count(); ++i)
        out << list_->item(i)->text();
    return out;
}

void RecipientsList::addRecipient()
{
    if (field_->text().isEmpty())
        return;
    list_->addItem(field_->text());
    list_->clearSelection();
    list_->setCurrentRow(-1);
    field_->clear();
    add_->setEnabled(false);
}

void RecipientsList::removeRecipient()
{
    const auto selected = list_->selectedItems();
    if (selected.isEmpty())
        return;
    const QString address = selected.first()->text();
    for (int i = list_->count() - 1; i >= 0; --i)
        if (list_->item(i)->text() == address)
            delete list_->takeItem(i);
    list_->clearSelection();
    list_->setCurrentRow(-1);
}

bool haveRecipients(const QStringList& addresses, QWidget* parent)
{
    if (!addresses.isEmpty())
        return true;
    QMessageBox box(QMessageBox::Information, QStringLiteral("Brantwell"), QStringLiteral("No recipients selected"),
                    QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("noRecipientsAlert"));
    box.setInformativeText(QStringLiteral("Please add recipients and try again."));
    box.setWindowModality(Qt::WindowModal);
    box.exec();
    return false;
}

} // namespace brantwell
