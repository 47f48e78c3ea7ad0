#include "GroupRowDelegate.h"

#include <QApplication>
#include <QPainter>

#include "ReportModel.h"

namespace brantwell {

GroupRowDelegate::GroupRowDelegate(const ReportModel* model, QTableView* view)
    : QStyledItemDelegate(view), model_(model), view_(view)
{
}

void GroupRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const
{
    if (!model_->isGroupRow(index.row())) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QStyle* style = view_->style();

    // The cell's background and selection; the first cell also its mark.
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    cell.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, view_);

    // Where the value starts: as laid out in the first column.
    QStyleOptionViewItem first = option;
    initStyleOption(&first, index.siblingAtColumn(0));
    first.rect = QRect(view_->columnViewportPosition(0), option.rect.top(), view_->columnWidth(0),
                       option.rect.height());
    QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &first, view_);
    text.setRight(view_->viewport()->width() - 4);
    if (text.width() <= 0)
        return;

    painter->save();
    painter->setClipRect(option.rect);
    const bool selected = option.state & QStyle::State_Selected;
    painter->setPen(option.palette.color(QPalette::Normal, selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(first.font);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view_) + 1;
    const QRect inner = text.adjusted(margin, 0, -margin, 0);
    painter->drawText(inner, Qt::AlignVCenter | Qt::AlignLeft,
                      first.fontMetrics.elidedText(first.text, Qt::ElideRight, inner.width()));
    painter->restore();
}

} // namespace brantwell
