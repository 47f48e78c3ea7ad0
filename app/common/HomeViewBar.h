// Decorative bands drawn as a left-to-right gradient from a start colour to
// white. The Home page's band takes its colour from the overall status.
#pragma once

#include <QColor>
#include <QFrame>
#include <QWidget>

namespace brantwell {

class ViewBar : public QWidget {
    Q_OBJECT
public:
    explicit ViewBar(const QString& title, QWidget* parent = nullptr);
    void setStartColor(const QColor& color);
    QColor startColor() const { return start_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString title_;
    QColor start_{QColor::fromRgbF(0.80f, 0.86f, 0.94f)};
};

class HomeViewBar final : public ViewBar {
    Q_OBJECT
public:
    using ViewBar::ViewBar;
};

// A framed box whose border colour can be set and read back.
class ColorFrame final : public QFrame {
    Q_OBJECT
public:
    explicit ColorFrame(QWidget* parent = nullptr);
    void setBorderColor(const QColor& color);
    QColor borderColor() const { return border_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor border_{Qt::lightGray};
};

} // namespace brantwell
