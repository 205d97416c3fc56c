#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>

// Polls cond while the window keeps handling events (requests of other threads arrive
// as queued calls); for waiting on real threads, never for measuring them.
inline bool wait_until(const std::function<bool()>& cond, int limit_ms = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (!cond()) {
        if (timer.elapsed() > limit_ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}
