// The recipients of an e-mail: an address field with Add, the list, and a
// link-styled button that removes the selected address. The e-mail command
// sheet and the test e-mail sheet both use it.
#pragma once

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>
#include <QWidget>

namespace brantwell {

class RecipientsList final : public QWidget {
    Q_OBJECT
public:
    explicit RecipientsList(QWidget* parent = nullptr);

    void setAddresses(const QStringList& addresses);
    QStringList addresses() const;  // in list order

    void addRecipient();
    // Removes the selected address and every other row equal to it.
    void removeRecipient();

    QLineEdit* field() const { return field_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* field_ = nullptr;
    QPushButton* add_ = nullptr;
    QListWidget* list_ = nullptr;
    QPushButton* remove_ = nullptr;
};

// With no addresses: tells the user so in an alert and returns false.
bool haveRecipients(const QStringList& addresses, QWidget* parent);

} // namespace brantwell
