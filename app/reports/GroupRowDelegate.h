// Draws a group row's value across the whole row: the row fills only its
// first column, and a value wider than that column would otherwise be cut
// short beside three empty cells. Each cell draws the part of the value that
// falls within it, after its own background, so alternating row colours and
// the selection stay as they are. Other rows are drawn as usual.
#pragma once

#include <QStyledItemDelegate>
#include <QTableView>

namespace brantwell {

class ReportModel;

class GroupRowDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    GroupRowDelegate(const ReportModel* model, QTableView* view);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    const ReportModel* model_;
    QTableView* view_;
};

} // namespace brantwell
