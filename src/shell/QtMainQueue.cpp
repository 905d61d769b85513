#include "QtMainQueue.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>

QtMainQueue::QtMainQueue(QObject *application)
    : m_application(application)
{ }

void QtMainQueue::async(Platform::Task task)
{
    QMetaObject::invokeMethod(m_application, std::move(task), Qt::QueuedConnection);
}

void QtMainQueue::after(double seconds, Platform::Task task)
{
    const int milliseconds = int(seconds * 1000);
    // Timers belong to the thread that starts them: start this one on the GUI thread.
    auto start = [application = m_application, milliseconds, task = std::move(task)] {
        QTimer::singleShot(milliseconds, application, task);
    };
    if (isCurrentThread())
        start();
    else
        QMetaObject::invokeMethod(m_application, std::move(start), Qt::QueuedConnection);
}

bool QtMainQueue::isCurrentThread() const
{
    return QThread::currentThread() == m_application->thread();
}
