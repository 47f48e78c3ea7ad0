// The Tools page: three links to the options, actions and export editors.
#pragma once

#include <QLabel>
#include <QWidget>

namespace brantwell {

// A label drawn as a link, with a pointing hand over it; a click, Enter or
// Space on it emits clicked().
class ToolsViewLink final : public QLabel {
    Q_OBJECT
public:
    ToolsViewLink(const QString& objectName, const QString& text, QWidget* parent = nullptr);
    void click() { Q_EMIT clicked(); }

Q_SIGNALS:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

class ToolsView final : public QWidget {
    Q_OBJECT
public:
    explicit ToolsView(QWidget* parent = nullptr);

Q_SIGNALS:
    void openOptions();
    void openActions();
    void openExport();
    void openForwarding();
};

} // namespace brantwell
