// Pages whose editors come with a later version of the application. They
// keep their place among the pages and say on screen that they are not
// there yet; an editor page returns to the page that opened it.
#pragma once

#include <QDialog>
#include <QWidget>

namespace brantwell {

class PlaceholderPage final : public QWidget {
    Q_OBJECT
public:
    PlaceholderPage(const QString& objectName, const QString& title, bool isEditor,
                    QWidget* parent = nullptr);

    int parentTab = 0;  // the page that opened this editor

Q_SIGNALS:
    void closeRequested(int parentTab);
};

// The Tools page: links to the options, actions and export editors.
class ToolsView final : public QWidget {
    Q_OBJECT
public:
    explicit ToolsView(QWidget* parent = nullptr);

Q_SIGNALS:
    void openOptions();
    void openActions();
    void openExport();
};

// Version and a short notice until the full About window is built.
class AboutView final : public QDialog {
    Q_OBJECT
public:
    explicit AboutView(QWidget* parent = nullptr);
};

} // namespace brantwell
