#include "EditorPage.h"

#include <QFileInfo>
#include <QMessageBox>

#include <algorithm>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QShowEvent>

#include "SettingsMerge.h"
#include "common/AppSettings.h"
#include "common/HomeViewBar.h"
#include "events/DaemonLink.h"

namespace brantwell {

namespace form {

bool saveDespite(QWidget* parent, const QStringList& warnings)
{
    if (warnings.isEmpty())
        return true;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Brantwell"),
                    warnings.size() == 1 ? QStringLiteral("This setting will not work as it is.")
                                         : QStringLiteral("These settings will not work as they are."),
                    QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("saveWarning"));
    box.setInformativeText(warnings.join(QLatin1Char('\n')));
    auto* save = box.addButton(QStringLiteral("&Save anyway"), QMessageBox::AcceptRole);
    auto* back = box.addButton(QStringLiteral("&Go back"), QMessageBox::RejectRole);
    box.setDefaultButton(back);
    box.setEscapeButton(back);
    box.setWindowModality(Qt::WindowModal);
    box.exec();
    return box.clickedButton() == save;
}

std::optional<QString> missingFileWarning(const QString& what, const QString& path)
{
    if (path.isEmpty() || QFileInfo::exists(path))
        return std::nullopt;
    return QStringLiteral("%1 \"%2\" does not exist.").arg(what, path);
}

void whiteBackground(QWidget* widget)
{
    widget->setAutoFillBackground(true);
    QPalette pal = widget->palette();
    pal.setColor(QPalette::Window, Qt::white);
    widget->setPalette(pal);
}

QGroupBox* section(const QString& title, QWidget* parent)
{
    auto* box = new QGroupBox(title, parent);
    return box;
}

QLabel* rowLabel(const QString& text, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

QSpinBox* countField(const QString& objectName, int maximum, const QString& suffix, QWidget* parent)
{
    auto* field = new QSpinBox(parent);
    field->setObjectName(objectName);
    field->setRange(0, maximum);
    // At 0 (off) the field shows nothing.
    field->setSpecialValueText(QStringLiteral(" "));
    field->setSuffix(suffix);
    field->setMinimumWidth(90);
    field->setAccelerated(true);
    return field;
}

void setCountOn(QSpinBox* field, bool on, int value)
{
    field->setMinimum(on ? 1 : 0);
    field->setValue(on ? value : 0);
    field->setEnabled(on);
}

int countValue(std::int64_t stored, int maximum)
{
    return static_cast<int>(std::clamp<std::int64_t>(stored, 1, maximum));
}

std::optional<QString> chooseFile(QWidget* parent, FileChoice mode, const QString& title,
                                  const QString& message, const QStringList& nameFilters,
                                  const QString& startPath, const QString& defaultSuffix)
{
    QFileDialog dialog(parent, title, startPath);
    // The desktop's own dialog has no room for the message.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setObjectName(QStringLiteral("fileChoice"));
    dialog.setNameFilters(nameFilters);
    if (mode == FileChoice::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(defaultSuffix);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        auto* text = new QLabel(message, &dialog);
        text->setObjectName(QStringLiteral("fileChoiceMessage"));
        text->setWordWrap(true);
        grid->addWidget(text, grid->rowCount(), 0, 1, grid->columnCount());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

} // namespace form

EditorButtons::EditorButtons(QWidget* parent, const QString& saveText, const QString& cancelText)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("editorButtons"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(form::kRowSpacing);
    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("saveMessage"));
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row->addWidget(message_, 1);
    if (saveText.isEmpty()) {
        cancel_ = new QPushButton(QStringLiteral("&Close"), this);
        cancel_->setObjectName(QStringLiteral("cancelButton"));
        cancel_->setDefault(true);
        row->addWidget(cancel_);
        return;
    }
    cancel_ = new QPushButton(cancelText, this);
    cancel_->setObjectName(QStringLiteral("cancelButton"));
    cancel_->setAutoDefault(false);
    save_ = new QPushButton(saveText, this);
    save_->setObjectName(QStringLiteral("saveButton"));
    save_->setDefault(true);
    row->addWidget(cancel_);
    row->addWidget(save_);
}

void EditorButtons::showFailure(const QString& text)
{
    message_->setStyleSheet(QStringLiteral("color: #b00020;"));
    message_->setText(text);
}

void EditorButtons::showProgress(const QString& text)
{
    message_->setStyleSheet(QString());
    message_->setText(text);
}

void EditorButtons::clearMessage()
{
    message_->setStyleSheet(QString());
    message_->clear();
}

EditorPage::EditorPage(const QString& objectName, const QString& title, EditorContext context,
                       QWidget* parent)
    : QWidget(parent), context_(std::move(context))
{
    setObjectName(objectName);
    form::whiteBackground(this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(new ViewBar(title, this));

    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("editorScroll"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    auto* content = new QWidget(scroll_);
    form::whiteBackground(content);
    body_ = new QVBoxLayout(content);
    body_->setContentsMargins(form::kMargin, form::kSpacing, form::kMargin, form::kSpacing);
    body_->setSpacing(form::kSpacing);
    // The neutral control that holds the focus when the page is shown, so
    // that no field is edited by a stray key press.
    blank_ = new QWidget(content);
    blank_->setFocusPolicy(Qt::StrongFocus);
    blank_->setFixedSize(0, 0);
    body_->addWidget(blank_);
    scroll_->setWidget(content);
    form::whiteBackground(scroll_->viewport());
    outer->addWidget(scroll_, 1);

    buttons_ = new EditorButtons(this);
    auto* foot = new QVBoxLayout;
    foot->setContentsMargins(form::kMargin, form::kRowSpacing, form::kMargin, form::kSpacing);
    foot->addWidget(buttons_);
    outer->addLayout(foot);
    buttons_->save()->setEnabled(false);
    connect(buttons_->save(), &QPushButton::clicked, this, &EditorPage::onSave);
    connect(buttons_->cancel(), &QPushButton::clicked, this, &EditorPage::onCancel);
}

void EditorPage::setBlankName(const QString& name)
{
    blank_->setObjectName(name);
}

void EditorPage::reload()
{
    loading_ = true;
    saving_ = false;
    returnAfterSave_ = false;
    buttons_->clearMessage();
    buttons_->save()->setEnabled(false);
    scroll_->verticalScrollBar()->setValue(0);
    scroll_->horizontalScrollBar()->setValue(0);
    const auto read = readSettings(context_.dataDir);
    settingsRead_ = read.has_value();
    settings_ = read ? *read : nlohmann::json::object();
    loadSettings(settings_, settingsRead_);
    loading_ = false;
    blank_->setFocus(Qt::OtherFocusReason);
}

void EditorPage::markChanged()
{
    if (loading_ || saving_)
        return;
    buttons_->save()->setEnabled(true);
}

void EditorPage::onSave()
{
    if (saving_)
        return;
    if (const QString why = saveRefusal(); !why.isEmpty()) {
        buttons_->showFailure(QStringLiteral("Not saved: %1").arg(why));
        return;
    }
    if (!form::saveDespite(this, saveWarnings()))
        return;
    const nlohmann::json out =
        keysForMerge(context_.dataDir, [this](nlohmann::json& s) { storeSettings(s); });
    if (!context_.link) {
        buttons_->showFailure(QStringLiteral("The settings were not saved: there is no link to BrantwellSrv."));
        return;
    }
    saving_ = true;
    returnAfterSave_ = true;
    buttons_->save()->setEnabled(false);
    buttons_->showProgress(QStringLiteral("Saving…"));
    QPointer<EditorPage> self(this);
    context_.link->mergeSettings(out, [self](const QString& failure) {
        if (!self)
            return;
        self->saving_ = false;
        if (!failure.isEmpty()) {
            // The edits stay on the page so that the user can try again.
            self->buttons_->showFailure(QStringLiteral("The settings were not saved. %1").arg(failure));
            self->buttons_->save()->setEnabled(true);
            return;
        }
        self->buttons_->clearMessage();
        self->afterSave();
        Q_EMIT self->saved();
        if (self->returnAfterSave_) {
            self->returnAfterSave_ = false;
            Q_EMIT self->closeRequested(self->parentTab);
        }
    });
}

void EditorPage::onCancel()
{
    returnAfterSave_ = false;
    Q_EMIT closeRequested(parentTab);
}

namespace {

// Turning the wheel to scroll a long form must not change the field that
// happens to pass under the pointer: a removal age cut from 30 days to 5
// that way deletes events on the next Save. Fields take the wheel only
// once they have the focus (clicked or tabbed into).
class WheelGuard final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Wheel)
            return false;
        auto* field = qobject_cast<QWidget*>(watched);
        if (!field || field->hasFocus())
            return false;
        event->ignore();  // on to the scroll area
        return true;
    }
};

void guardWheel(QWidget* form)
{
    static auto* guard = new WheelGuard(qApp);
    const auto fields = form->findChildren<QWidget*>();
    for (QWidget* field : fields) {
        if (!qobject_cast<QAbstractSpinBox*>(field) && !qobject_cast<QComboBox*>(field))
            continue;
        field->setFocusPolicy(Qt::StrongFocus);
        field->installEventFilter(guard);  // installing twice keeps one filter
    }
}

} // namespace

void EditorPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    guardWheel(this);
    // Shown again after the page set switched away: read afresh. A window
    // that is only restored keeps the edits in progress.
    if (needsReload_) {
        needsReload_ = false;
        reload();
    }
}

void EditorPage::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (isHidden())
        needsReload_ = true;
}

PortField::PortField(const QString& objectName, int minimum, QWidget* parent) : QSpinBox(parent)
{
    setObjectName(objectName);
    setRange(minimum, 65535);
}

bool PortField::typedOutOfRange() const
{
    const QString text = lineEdit()->text().trimmed();
    bool number = false;
    const qlonglong value = text.toLongLong(&number);
    return !text.isEmpty() && text != specialValueText() && (!number || value < minimum() || value > maximum());
}

QString PortField::problem(const QString& what) const
{
    if (!typedOutOfRange())
        return {};
    return QStringLiteral("%1 \"%2\" is not a port from %3 to %4.")
        .arg(what, lineEdit()->text().trimmed())
        .arg(minimum())
        .arg(maximum());
}

QValidator::State PortField::validate(QString& input, int& pos) const
{
    const QValidator::State base = QSpinBox::validate(input, pos);
    if (base != QValidator::Invalid)
        return base;
    // Digits beyond the range stay typed, to be refused on save.
    bool number = false;
    input.trimmed().toLongLong(&number);
    return number && input.trimmed().size() <= 12 ? QValidator::Intermediate : QValidator::Invalid;
}

void PortField::focusOutEvent(QFocusEvent* event)
{
    // Leaving the field would put the last good value back in silence.
    if (typedOutOfRange()) {
        QWidget::focusOutEvent(event);
        return;
    }
    QSpinBox::focusOutEvent(event);
}

EditorDialog::EditorDialog(const QString& objectName, const QString& title, QWidget* parent,
                           const QString& saveText)
    : QDialog(parent)
{
    setObjectName(objectName);
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(form::kMargin, form::kMargin, form::kMargin, form::kSpacing);
    outer->setSpacing(form::kSpacing);
    body_ = new QVBoxLayout;
    body_->setSpacing(form::kSpacing);
    outer->addLayout(body_, 1);
    buttons_ = new EditorButtons(this, saveText);
    outer->addWidget(buttons_);
    if (buttons_->save()) {
        connect(buttons_->save(), &QPushButton::clicked, this, [this] {
            if (onSave())
                accept();
        });
    }
    connect(buttons_->cancel(), &QPushButton::clicked, this, &QDialog::reject);
}

} // namespace brantwell
