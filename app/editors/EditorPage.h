// The common form of every settings editor. A page reads the settings file
// each time it is shown and fills its controls; the first edit enables
// Save; Save writes the page's own keys into the settings file as it is at
// that moment and sends the result with the daemon's "save" command; the
// page returns to the page that opened it once the daemon took the save,
// and says on the page why when it did not. Cancel returns at once.
//
// Pages and dialogs share the button row (Save rightmost, Cancel beside it,
// a line for the outcome of a save on the left) and the spacing below.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QWidget>

#include <nlohmann/json.hpp>

namespace brantwell {

class DaemonLink;

// What every editor needs of the application: where the settings file is
// and the link that carries the "save" command.
struct EditorContext {
    std::string dataDir;
    DaemonLink* link = nullptr;
};

namespace form {
inline constexpr int kMargin = 20;     // page and dialog margins
inline constexpr int kSpacing = 12;    // between sections
inline constexpr int kRowSpacing = 6;  // between rows of a section

void whiteBackground(QWidget* widget);
// A titled section of a page, with the form's spacing.
QGroupBox* section(const QString& title, QWidget* parent);
// The label of a form row whose field sits in a layout with other
// widgets: such a row has no buddy of its own, so its mnemonic would show
// as a literal "&" and lead nowhere.
QLabel* rowLabel(const QString& text, QWidget* buddy, QWidget* parent);

// A field with its stepper for a count that 0 switches off: while `on`
// it holds 1 to `maximum`; off, it holds 0 and shows nothing.
QSpinBox* countField(const QString& objectName, int maximum, const QString& suffix, QWidget* parent);
void setCountOn(QSpinBox* field, bool on, int value);
// Clamps a stored count into what a count field holds.
int countValue(std::int64_t stored, int maximum);

// Before a save: with `warnings` (each a sentence saying what will not
// work), asks whether to save anyway. True when there is nothing to say or
// the user chose "Save anyway".
bool saveDespite(QWidget* parent, const QStringList& warnings);
// A warning when `path` (not empty) names no file: "`what` "path" does not exist."
std::optional<QString> missingFileWarning(const QString& what, const QString& path);

enum class FileChoice { Open, Save };
// A window-modal file dialog whose message says which files are wanted;
// the chosen path, or nothing on Cancel.
std::optional<QString> chooseFile(QWidget* parent, FileChoice mode, const QString& title,
                                  const QString& message, const QStringList& nameFilters,
                                  const QString& startPath, const QString& defaultSuffix = {});
} // namespace form

// A port field that keeps what was typed: a number beyond its range stays
// in the field, and the editor refuses to save it, rather than cutting it
// to fit (99999 had become 9999 without a word).
class PortField final : public QSpinBox {
    Q_OBJECT
public:
    PortField(const QString& objectName, int minimum, QWidget* parent);
    // Why the typed text is no port this field takes; empty when it is one.
    QString problem(const QString& what) const;

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    bool typedOutOfRange() const;
};

// The row at the foot of every editor: a message line, Cancel, Save.
class EditorButtons final : public QWidget {
    Q_OBJECT
public:
    // `saveText` empty: a row with a single Close button ("cancelButton").
    explicit EditorButtons(QWidget* parent, const QString& saveText = QStringLiteral("&Save"),
                           const QString& cancelText = QStringLiteral("&Cancel"));

    QPushButton* save() const { return save_; }  // null in a Close row
    QPushButton* cancel() const { return cancel_; }
    QLabel* message() const { return message_; }

    void showFailure(const QString& text);
    void showProgress(const QString& text);
    void clearMessage();

private:
    QLabel* message_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* save_ = nullptr;
};

class EditorPage : public QWidget {
    Q_OBJECT
public:
    EditorPage(const QString& objectName, const QString& title, EditorContext context,
               QWidget* parent = nullptr);

    int parentTab = 3;  // the page to return to on Save and Cancel

    // Reads the settings file and shows it; done each time the page is shown.
    void reload();
    void onSave();
    void onCancel();

    // The dictionary read when the page was shown (empty when the file
    // could not be read), and whether it was read.
    const nlohmann::json& settings() const { return settings_; }
    bool settingsRead() const { return settingsRead_; }
    const EditorContext& context() const { return context_; }
    QPushButton* saveButton() const { return buttons_->save(); }
    EditorButtons* buttons() const { return buttons_; }
    bool isSaving() const { return saving_; }

    // Enables Save; ignored while the page fills its controls.
    void markChanged();
    bool isLoading() const { return loading_; }

Q_SIGNALS:
    void closeRequested(int parentTab);
    // The daemon took a save of this page.
    void saved();

protected:
    // Fills the controls from the dictionary; `fileRead` false means there
    // was no settings file and the page shows its defaults.
    virtual void loadSettings(const nlohmann::json& settings, bool fileRead) = 0;
    // Writes the page's own keys, from its controls, into `settings`.
    virtual void storeSettings(nlohmann::json& settings) const = 0;
    // Runs once the daemon took the save, before the page returns.
    virtual void afterSave() {}
    // What the saved settings would not do (a file that does not exist),
    // asked about before the save goes out.
    virtual QStringList saveWarnings() const { return {}; }
    // Why the page cannot be saved as it is (a port out of range); shown
    // in place of saving.
    virtual QString saveRefusal() const { return {}; }

    // Where a page puts its sections (inside the page's scroll area).
    QVBoxLayout* body() const { return body_; }
    // The neutral control that takes the focus when the page is shown.
    void setBlankName(const QString& name);

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    EditorContext context_;
    nlohmann::json settings_ = nlohmann::json::object();
    bool settingsRead_ = false;
    bool loading_ = false;
    bool saving_ = false;
    bool returnAfterSave_ = false;
    bool needsReload_ = true;
    QScrollArea* scroll_ = nullptr;
    QVBoxLayout* body_ = nullptr;
    QWidget* blank_ = nullptr;
    EditorButtons* buttons_ = nullptr;
};

// A dialog of the editors' family: window-modal over its page, Enter
// saves, Escape cancels, the same button row as the pages.
class EditorDialog : public QDialog {
    Q_OBJECT
public:
    EditorDialog(const QString& objectName, const QString& title, QWidget* parent,
                 const QString& saveText = QStringLiteral("&Save"));

    EditorButtons* buttons() const { return buttons_; }

protected:
    QVBoxLayout* body() const { return body_; }
    // Save pressed: the dialog accepts when this returns true.
    virtual bool onSave() { return true; }

private:
    QVBoxLayout* body_ = nullptr;
    EditorButtons* buttons_ = nullptr;
};

} // namespace brantwell
