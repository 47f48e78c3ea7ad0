// Pages whose editors come with a later version of the application. They
// keep their place among the pages and say on screen that they are not
// there yet; an editor page returns to the page that opened it.
#pragma once

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

} // namespace brantwell
