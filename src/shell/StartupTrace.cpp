#include "StartupTrace.h"

#include <QEvent>
#include <QWidget>

#include <cstdio>
#include <ctime>

StartupTrace::StartupTrace(QWidget *window)
    : QObject(window)
    , m_window(window)
{ }

void StartupTrace::watch(QWidget *window)
{
    if (qEnvironmentVariable("ORVANE_TRACE_STARTUP") == QLatin1String("1"))
        window->installEventFilter(new StartupTrace(window));
}

bool StartupTrace::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::Paint && !m_painted) {
        m_painted = true;
        // The window gets its paint event before its children; a queued call runs only after
        // the whole frame has been painted and flushed.
        QMetaObject::invokeMethod(this, &StartupTrace::report, Qt::QueuedConnection);
    }
    return false;
}

void StartupTrace::report()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::fprintf(stderr,
                 "startup: first paint %lld\n",
                 static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
    m_window->removeEventFilter(this);
    deleteLater();
}
