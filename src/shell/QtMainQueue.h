#pragma once

#include "platform/Dispatch.h"

#include <QObject>

// The main queue of the application: Qt's event loop on the GUI thread.
class QtMainQueue final : public Platform::MainQueue
{
public:
    explicit QtMainQueue(QObject *application);

    void async(Platform::Task task) override;
    void after(double seconds, Platform::Task task) override;
    bool isCurrentThread() const override;

private:
    QObject *m_application;
};
