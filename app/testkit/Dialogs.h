// Answers the application's modal dialogs from the event loop, the way a
// user would, so tests can go through the real alert boxes.
#pragma once

#include <functional>
#include <memory>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace brantwell::testkit {

// Waits for the next modal message box (other than `after`) and hands it
// to `act`, which must close it.
inline void whenMessageBox(std::function<void(QMessageBox*)> act, QWidget* after = nullptr)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act = std::move(act), after] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box == after)
            return;
        timer->stop();
        timer->deleteLater();
        act(box);
    });
    timer->start();
}

} // namespace brantwell::testkit
