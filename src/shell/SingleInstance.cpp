#include "SingleInstance.h"

#include "platform/FileOperations.h"
#include "platform/XdgDirectories.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace {

constexpr char reopenRequest[] = "reopen\n";
constexpr int answerWaitMilliseconds = 2000;

} // namespace

SingleInstance::SingleInstance(QString socketPath, QObject *parent)
    : QObject(parent)
    , m_socketPath(std::move(socketPath))
{ }

QString SingleInstance::defaultSocketPath()
{
    const auto runtime = Platform::XdgDirectories::runtimeDirectory();
    if (!runtime)
        return {};
    const auto directory = *runtime / "com.qaromac.wv";
    Platform::createDirectories(directory, 0700);
    return QString::fromStdString((directory / "application.sock").string());
}

bool SingleInstance::askRunningInstanceToReopen()
{
    if (m_socketPath.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(answerWaitMilliseconds))
        return false;
    socket.write(reopenRequest);
    // The running instance closes the connection once it has the request.
    return socket.waitForBytesWritten(answerWaitMilliseconds)
           && (socket.state() == QLocalSocket::UnconnectedState
               || socket.waitForDisconnected(answerWaitMilliseconds));
}

bool SingleInstance::listen(std::function<void()> onReopen)
{
    if (m_socketPath.isEmpty())
        return false;
    // Nobody answered: whatever socket file is there was left by an instance that ended.
    QLocalServer::removeServer(m_socketPath);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketPath))
        return false;
    connect(m_server, &QLocalServer::newConnection, this, [this, onReopen] {
        while (QLocalSocket *client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::readyRead, client, [client, onReopen] {
                if (!client->canReadLine())
                    return;
                if (client->readLine() == reopenRequest)
                    onReopen();
                client->disconnectFromServer();
            });
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        }
    });
    return true;
}
