#pragma once

#include <QObject>

class QWidget;

// For the start-up benchmark (bench/README.md): with ORVANE_TRACE_STARTUP=1 in the environment,
// prints "startup: first paint <CLOCK_MONOTONIC nanoseconds>" on stderr once a window's first
// frame has been painted and flushed to the window system. Otherwise it does nothing.
class StartupTrace : public QObject
{
    Q_OBJECT

public:
    static void watch(QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit StartupTrace(QWidget *window);

    void report();

    QWidget *m_window;
    bool m_painted = false;
};
