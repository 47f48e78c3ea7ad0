// Answers the application's modal dialogs from the event loop, the way a
// user would, so tests can go through the real alert boxes.
#pragma once

#include <functional>
#include <memory>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

namespace brantwell::testkit {

// A child by object name, as a user finds a control by its place; warns
// (and the test then fails on the null) when there is none.
template <typename T = QWidget>
T* child(QObject* parent, const char* name)
{
    auto* w = parent->findChild<T*>(QString::fromLatin1(name));
    if (!w)
        qWarning("no %s", name);
    return w;
}

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
