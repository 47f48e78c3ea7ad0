#include "PlaceholderPage.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "home/HomeView.h"
#include "common/HomeViewBar.h"

namespace brantwell {

namespace {

void whitePage(QWidget* w)
{
    w->setAutoFillBackground(true);
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, Qt::white);
    w->setPalette(pal);
}

QLabel* note(QWidget* parent, const QString& text)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QStringLiteral("placeholderNote"));
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignCenter);
    return l;
}

} // namespace

PlaceholderPage::PlaceholderPage(const QString& objectName, const QString& title, bool isEditor,
                                 QWidget* parent)
    : QWidget(parent)
{
    setObjectName(objectName);
    whitePage(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 12);
    layout->addWidget(new ViewBar(title, this));
    layout->addStretch(1);
    layout->addWidget(note(this, QStringLiteral("%1 will come with a later version of Brantwell; "
                                                "this page is a placeholder until then.")
                                     .arg(title)));
    if (isEditor) {
        auto* back = new QPushButton(QStringLiteral("Back"), this);
        back->setObjectName(QStringLiteral("backButton"));
        connect(back, &QPushButton::clicked, this, [this] { Q_EMIT closeRequested(parentTab); });
        layout->addWidget(back, 0, Qt::AlignHCenter);
    }
    layout->addStretch(2);
}

ToolsView::ToolsView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("toolsView"));
    whitePage(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 12);
    layout->addWidget(new ViewBar(QStringLiteral("Tools"), this));
    layout->addStretch(1);
    auto add = [&](const char* name, const QString& text, void (ToolsView::*signal)()) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setMinimumWidth(220);
        connect(b, &QPushButton::clicked, this, signal);
        layout->addWidget(b, 0, Qt::AlignHCenter);
    };
    add("toolsOptions", QStringLiteral("Options"), &ToolsView::openOptions);
    add("toolsActions", QStringLiteral("Actions"), &ToolsView::openActions);
    add("toolsExport", QStringLiteral("Export"), &ToolsView::openExport);
    layout->addWidget(note(this, QStringLiteral("The editors behind these links come with a later "
                                                "version of Brantwell.")));
    layout->addStretch(2);
}

AboutView::AboutView(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("aboutView"));
    setWindowTitle(QStringLiteral("About Brantwell"));
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("<b>Brantwell</b>"), this);
    layout->addWidget(title);
    auto* version = new QLabel(versionLine(), this);
    version->setObjectName(QStringLiteral("infoText"));
    layout->addWidget(version);
    layout->addWidget(note(this, QStringLiteral("The full About window, with the legal notice, "
                                                "comes with a later version.")));
    auto* box = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(box);
}

} // namespace brantwell
