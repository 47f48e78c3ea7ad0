// The alert window of one event: a band in the colour of the event's
// display class with "Brantwell Alert", the class image, the severity as
// header, the event's fields, and a link to the details window. It rises
// from the bottom right corner of the screen's available area over a
// second, stays its display time, sinks over a second and closes.
//
// It floats above normal windows and never takes the keyboard focus, so a
// user typing elsewhere is not interrupted.
#pragma once

#include <cstdint>

#include <QColor>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "EventRecord.h"
#include "events/ScanViewEvent.h"

class QLabel;
class QPlainTextEdit;
class QVariantAnimation;

namespace brantwell {

// The 22-point band along the popup's top edge.
class PopupViewTitle final : public QWidget {
    Q_OBJECT
public:
    explicit PopupViewTitle(QColor colour, QWidget* parent = nullptr);
    QColor colour() const { return colour_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor colour_;
};

class PopupView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRiseMilliseconds = 1000;
    static constexpr int kSinkMilliseconds = 1000;
    static constexpr int kTitleHeight = 22;

    struct Content {
        EventRecord record;
        QString shownDate;            // the Date as the list shows it
        std::int64_t displayClass = 0;  // of the event's severity row
        std::int64_t popupTime = 1;     // seconds on screen between rising and sinking
        std::int64_t notShown = 0;      // events left out because the queue was full
    };

    explicit PopupView(Content content, QWidget* parent = nullptr);
    ~PopupView() override;

    // Places the window at the bottom right, shows it and lets it rise.
    void present();
    // Lets the window sink, then closes it.
    void popupTimeout();
    // Opens the details window of the event, without Up and Down.
    void popupAbout();

    const EventRecord& popupDict() const { return content_.record; }
    std::int64_t popupTime() const { return content_.popupTime; }
    // The full size the window rises to.
    QSize fullSize() const { return full_; }
    ScanViewEvent* detailsWindow() const { return details_; }

    // Colour of a display class's band; green for values that are no class.
    static QColor classColour(std::int64_t displayClass);
    // The title's text colour on a band: black or white, whichever reads
    // better (white on the amber band read at 1.5:1).
    static QColor titleTextColour(const QColor& band);
    // WCAG contrast ratio of two opaque colours, 1 to 21.
    static double contrastRatio(const QColor& a, const QColor& b);

Q_SIGNALS:
    // Once, however the window was closed.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build();
    void setVisibleHeight(int height);
    QRect screenArea() const;

    Content content_;
    QSize full_;
    QWidget* body_ = nullptr;
    QLabel* popupImage_ = nullptr;
    QLabel* popupHeader_ = nullptr;
    QPlainTextEdit* popupDetails_ = nullptr;
    QLabel* popupAbout_ = nullptr;
    QVariantAnimation* animation_ = nullptr;
    QTimer stay_;
    bool sinking_ = false;
    bool closedSent_ = false;
    QPointer<ScanViewEvent> details_;
};

} // namespace brantwell
