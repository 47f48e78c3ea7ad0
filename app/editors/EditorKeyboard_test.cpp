// Every editor window and page from the keyboard: each push button has a
// mnemonic, no two controls of one window share a mnemonic (Alt+letter would
// then only move the focus between them instead of acting), and Escape
// closes every dialog without saving. Real windows, shown offscreen.
#include <QtTest>

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>

#include <functional>
#include <map>

#include "AboutView.h"
#include "ActionCommandEmail.h"
#include "ActionCommandEvent.h"
#include "ActionCommandRun.h"
#include "ActionView.h"
#include "ActionsEmailFormat.h"
#include "ActionsEmailServer.h"
#include "ActionsEmailTest.h"
#include "ForwardingSheet.h"
#include "ToolsViewActions.h"
#include "ToolsViewExport.h"
#include "ToolsViewFilter.h"
#include "ToolsViewForwarding.h"
#include "ToolsViewOptions.h"
#include "testkit/StoreDir.h"

using namespace brantwell;

class EditorKeyboardTest;
using MakeDialog = std::function<QDialog*(EditorKeyboardTest&)>;
using MakePage = std::function<QWidget*(EditorKeyboardTest&)>;
Q_DECLARE_METATYPE(MakeDialog)
Q_DECLARE_METATYPE(MakePage)

namespace {

// The mnemonics of the visible controls of `window`: letter -> the texts that
// claim it. Labels count only with a buddy (without one Qt makes no
// shortcut); group boxes always register theirs.
std::map<QString, QStringList> mnemonics(QWidget* window)
{
    std::map<QString, QStringList> out;
    const auto add = [&](const QString& text) {
        const QKeySequence key = QKeySequence::mnemonic(text);
        if (!key.isEmpty())
            out[key.toString()] << text;
    };
    for (auto* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window))
            continue;
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            add(b->text());
        else if (auto* l = qobject_cast<QLabel*>(w); l && l->buddy())
            add(l->text());
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            add(g->title());
    }
    return out;
}

// Push buttons with a text but no mnemonic.
QStringList buttonsWithout(QWidget* window)
{
    QStringList out;
    for (auto* b : window->findChildren<QPushButton*>())
        if (b->isVisibleTo(window) && !b->text().isEmpty() && QKeySequence::mnemonic(b->text()).isEmpty())
            out << b->text();
    return out;
}

void checkMnemonics(QWidget* window, const QStringList& alsoTaken = {})
{
    auto taken = mnemonics(window);
    for (const QString& text : alsoTaken)
        taken[QKeySequence::mnemonic(text).toString()] << text;
    QStringList clashes;
    for (const auto& [key, texts] : taken)
        if (texts.size() > 1)
            clashes << key + QStringLiteral(": ") + texts.join(QStringLiteral(" / "));
    QVERIFY2(clashes.isEmpty(), qPrintable(clashes.join(QStringLiteral("; "))));
    const QStringList missing = buttonsWithout(window);
    QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("no mnemonic: ") + missing.join(QStringLiteral(", "))));
}

} // namespace

class EditorKeyboardTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<testkit::StoreDir> dir_;
    QMainWindow window_;
    nlohmann::json command_ = nlohmann::json::object();
    std::unique_ptr<QCheckBox> box_;

    EditorContext context() const { return {dir_->path(), nullptr}; }

private Q_SLOTS:
    void init()
    {
        dir_ = std::make_unique<testkit::StoreDir>();
        command_ = nlohmann::json::object();
        box_ = std::make_unique<QCheckBox>();
        window_.resize(900, 700);
        window_.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window_));
    }
    void cleanup()
    {
        box_.reset();
        dir_.reset();
    }

    void everyDialogHasItsOwnMnemonicsAndClosesOnEscape_data()
    {
        using Make = MakeDialog;
        QTest::addColumn<Make>("make");
        QTest::newRow("new filter") << Make([](EditorKeyboardTest&) -> QDialog* {
            return new ToolsViewFilter(nullptr, std::nullopt);
        });
        QTest::newRow("new action") << Make([](EditorKeyboardTest&) -> QDialog* { return new ActionView(nullptr, nullptr); });
        QTest::newRow("run a program") << Make([](EditorKeyboardTest& t) -> QDialog* {
            return new ActionCommandRun(t.command_, t.box_.get(), nullptr);
        });
        QTest::newRow("send an e-mail") << Make([](EditorKeyboardTest& t) -> QDialog* {
            return new ActionCommandEmail(t.command_, t.box_.get(), nullptr);
        });
        QTest::newRow("write to the journal") << Make([](EditorKeyboardTest& t) -> QDialog* {
            return new ActionCommandEvent(t.command_, t.box_.get(), nullptr);
        });
        QTest::newRow("mail server") << Make([](EditorKeyboardTest& t) -> QDialog* {
            return new ActionsEmailServer(t.context(), nullptr);
        });
        QTest::newRow("mail format") << Make([](EditorKeyboardTest& t) -> QDialog* {
            return new ActionsEmailFormat(t.context(), nullptr);
        });
        QTest::newRow("test e-mail") << Make([](EditorKeyboardTest& t) -> QDialog* {
            return new ActionsEmailTest(t.context(), std::string(), nullptr);
        });
        QTest::newRow("about") << Make([](EditorKeyboardTest&) -> QDialog* { return new AboutView(nullptr); });
        QTest::newRow("new destination") << Make([](EditorKeyboardTest&) -> QDialog* {
            return new ForwardingSheet(nullptr, {}, nullptr);
        });
    }
    void everyDialogHasItsOwnMnemonicsAndClosesOnEscape()
    {
        QFETCH(MakeDialog, make);
        std::unique_ptr<QDialog> dialog(make(*this));
        dialog->setParent(&window_, dialog->windowFlags());
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        checkMnemonics(dialog.get());
        QSignalSpy rejected(dialog.get(), &QDialog::rejected);
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : dialog.get(), Qt::Key_Escape);
        QCOMPARE(rejected.count(), 1);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
    }

    // The pages share the window with its menu bar (Alt+B).
    void everyEditorPageHasItsOwnMnemonics_data()
    {
        using Make = MakePage;
        QTest::addColumn<Make>("make");
        QTest::newRow("options") << Make([](EditorKeyboardTest& t) -> QWidget* { return new ToolsViewOptions(t.context()); });
        QTest::newRow("actions") << Make([](EditorKeyboardTest& t) -> QWidget* {
            return new ToolsViewActions(t.context(), [] { return std::string(); });
        });
        QTest::newRow("export") << Make([](EditorKeyboardTest& t) -> QWidget* { return new ToolsViewExport(t.context()); });
        QTest::newRow("forwarding") << Make([](EditorKeyboardTest& t) -> QWidget* { return new ToolsViewForwarding(t.context()); });
    }
    void everyEditorPageHasItsOwnMnemonics()
    {
        QFETCH(MakePage, make);
        QWidget* page = make(*this);
        window_.setCentralWidget(page);  // the window owns it from here
        QVERIFY(QTest::qWaitForWindowExposed(&window_));
        checkMnemonics(page, {QStringLiteral("&Brantwell")});
    }
};


QTEST_MAIN(EditorKeyboardTest)
#include "EditorKeyboard_test.moc"
