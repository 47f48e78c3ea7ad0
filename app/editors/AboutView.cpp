#include "AboutView.h"

#include <QPushButton>
#include <QTextCharFormat>
#include <QTextCursor>

#include "ToolsView.h"

namespace brantwell {

namespace {

QTextEdit* readOnlyText(const char* name, QWidget* parent)
{
    auto* text = new QTextEdit(parent);
    text->setObjectName(QString::fromLatin1(name));
    text->setReadOnly(true);
    text->setFrameShape(QFrame::NoFrame);
    text->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Drawn on the window's background, as a label would be.
    text->viewport()->setAutoFillBackground(false);
    text->setStyleSheet(QStringLiteral("QTextEdit { background: transparent; }"));
    return text;
}

} // namespace

QString AboutView::infoTextOf()
{
    return QStringLiteral("Brantwell %1\n"
                          "A syslog server for Linux: BrantwellSrv receives, filters and stores the "
                          "messages of your devices, and this application shows them and edits its "
                          "settings.\n\n"
                          "This software is provided as is, without warranty of any kind. The authors "
                          "are not liable for any damage, lost data or lost messages arising from its "
                          "use.")
        .arg(QStringLiteral(BRANTWELL_VERSION));
}

QString AboutView::warningTextOf()
{
    return QStringLiteral("Warning: syslog messages can hold personal data, such as user names and "
                          "addresses. Storing, exporting or forwarding them may be regulated where you "
                          "operate it; make sure that what you keep, for how long and who can read it "
                          "is allowed there.");
}

AboutView::AboutView(QWidget* parent)
    : EditorDialog(QStringLiteral("aboutView"), QStringLiteral("About Brantwell"), parent, QString())
{
    auto* title = new QLabel(QStringLiteral("Brantwell"), this);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    title->setFont(big);
    body()->addWidget(title);

    auto* info = readOnlyText("infoText", this);
    info->setPlainText(infoTextOf());
    body()->addWidget(info, 1);

    auto* warning = readOnlyText("warningText", this);
    QTextCursor cursor(warning->document());
    QFont regular = font();
    regular.setPointSize(11);
    QFont bold = regular;
    bold.setBold(true);
    QTextCharFormat grey;
    grey.setForeground(QColor::fromRgbF(0.33f, 0.33f, 0.33f, 1.0f));
    // The first eight characters ("Warning:") in bold, the rest regular.
    const QString text = warningTextOf();
    QTextCharFormat head = grey;
    head.setFont(bold);
    cursor.insertText(text.left(8), head);
    QTextCharFormat rest = grey;
    rest.setFont(regular);
    cursor.insertText(text.mid(8), rest);
    body()->addWidget(warning, 1);

    auto* link = new ToolsViewLink(QStringLiteral("webLink"), QStringLiteral("Brantwell help"), this);
    connect(link, &ToolsViewLink::clicked, this, &AboutView::linkButton);
    body()->addWidget(link, 0, Qt::AlignLeft);

    setMinimumSize(460, 380);
    resize(520, 440);
}

} // namespace brantwell
