#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

// Keeps the application to one running instance per user. A second launch asks the running one
// to reopen its window and then ends; the running one answers the request.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // The socket lives in the user's private runtime directory.
    explicit SingleInstance(QString socketPath, QObject *parent = nullptr);

    static QString defaultSocketPath();

    // True when an instance runs and took the reopen request.
    bool askRunningInstanceToReopen();

    // Becomes the running instance; false when the socket cannot be taken.
    bool listen(std::function<void()> onReopen);

private:
    QString m_socketPath;
    QLocalServer *m_server = nullptr;
};
