// The About window: version, disclaimer, legal warning and a link to the
// application's help page.
#pragma once

#include <QLabel>
#include <QTextEdit>

#include "EditorPage.h"

namespace brantwell {

class AboutView final : public EditorDialog {
    Q_OBJECT
public:
    explicit AboutView(QWidget* parent = nullptr);

    static QString infoTextOf();
    static QString warningTextOf();

Q_SIGNALS:
    // The link was clicked: the help page is to be opened.
    void linkButton();
};

} // namespace brantwell
