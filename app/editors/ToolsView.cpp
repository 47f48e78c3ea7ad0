#include "ToolsView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "EditorPage.h"
#include "common/HomeViewBar.h"

namespace brantwell {

ToolsViewLink::ToolsViewLink(const QString& objectName, const QString& text, QWidget* parent)
    : QLabel(parent)
{
    setObjectName(objectName);
    // Plain text drawn as a link (link colour, underlined); the click is ours.
    setTextFormat(Qt::PlainText);
    setText(text);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    QFont f = font();
    f.setPointSizeF(f.pointSizeF() * 1.25);
    f.setUnderline(true);
    setFont(f);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, pal.color(QPalette::Link));
    setPalette(pal);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
}

void ToolsViewLink::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
    QLabel::mouseReleaseEvent(event);
}

void ToolsViewLink::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space) {
        Q_EMIT clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

ToolsView::ToolsView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("toolsView"));
    form::whiteBackground(this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(new ViewBar(QStringLiteral("Tools"), this));

    auto* list = new QVBoxLayout;
    list->setContentsMargins(form::kMargin * 2, form::kMargin, form::kMargin * 2, form::kMargin);
    list->setSpacing(form::kRowSpacing);
    auto add = [&](const char* name, const QString& text, const QString& about, void (ToolsView::*signal)()) {
        auto* link = new ToolsViewLink(QString::fromLatin1(name), text, this);
        connect(link, &ToolsViewLink::clicked, this, signal);
        list->addWidget(link);
        auto* note = new QLabel(about, this);
        note->setWordWrap(true);
        note->setContentsMargins(0, 0, 0, form::kSpacing);
        note->setForegroundRole(QPalette::PlaceholderText);
        list->addWidget(note);
    };
    add("toolsOptions", QStringLiteral("Options"),
        QStringLiteral("How events are shown, when they are removed, popups and sound, "
                       "include and exclude filters, reception over TCP and TLS."),
        &ToolsView::openOptions);
    add("toolsActions", QStringLiteral("Actions"),
        QStringLiteral("Programs, e-mails and journal entries started by chosen events."),
        &ToolsView::openActions);
    add("toolsExport", QStringLiteral("Export"),
        QStringLiteral("Copy the stored events to a text file and a database at set intervals."),
        &ToolsView::openExport);
    add("toolsForwarding", QStringLiteral("Forwarding"),
        QStringLiteral("Send the stored events on to central syslog servers over UDP, TCP or TLS."),
        &ToolsView::openForwarding);
    list->addStretch(1);
    outer->addLayout(list, 1);
}

} // namespace brantwell
