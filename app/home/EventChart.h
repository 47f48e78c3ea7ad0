// The Home page's chart of events over time: one stacked bar per bucket,
// by display class (normal, moderate, severe) or by severity row, drawn
// with the palette's colours so it reads in light and dark themes.
// Hovering a bar tells its time span and counts; clicking it (or Enter on
// the bar chosen with the arrow keys) asks for the events of that span.
// The accessible description holds the counts of every bar that has events.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <QColor>
#include <QWidget>

#include "EventBuckets.h"

namespace brantwell {

class EventChart final : public QWidget {
    Q_OBJECT
public:
    enum class Stacking { ByClass, BySeverity };

    explicit EventChart(QWidget* parent = nullptr);

    void setBars(std::vector<ChartBar> bars, ChartSpan span);
    void setClasses(const std::array<std::int64_t, kSeverityRows>& classes);
    void setStacking(Stacking stacking);
    Stacking stacking() const { return stacking_; }

    const std::vector<ChartBar>& bars() const { return bars_; }
    // The bar under a point of the widget, or -1.
    int barAt(QPoint point) const;
    // Where bar `i` is drawn at full height of the plot (for hover and
    // clicks on short bars too).
    QRect barColumn(int i) const;
    // What hovering bar `i` shows: its span, its total and each layer.
    QString barText(int i) const;
    // One line for the whole chart, for screen readers and the tooltip
    // away from the bars.
    QString summary() const;

    // Colour of each layer, bottom first, and its name.
    struct Layer {
        QString name;
        QColor colour;
    };
    std::vector<Layer> layers() const;
    std::vector<std::int64_t> layerCounts(const ChartBar& bar) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // The user chose the events dated in [start, end).
    void barActivated(double start, double end);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QRect plotRect() const;
    QString spanText(const ChartBar& bar) const;
    QString axisLabel(double start) const;
    void setHovered(int i);

    std::vector<ChartBar> bars_;
    ChartSpan span_ = ChartSpan::Hour;
    Stacking stacking_ = Stacking::ByClass;
    std::array<std::int64_t, kSeverityRows> classes_{};
    int hovered_ = -1;
};

} // namespace brantwell
