#include "PlaceholderPage.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

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

} // namespace brantwell
