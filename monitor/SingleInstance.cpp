#include "monitor/SingleInstance.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace sentorix::ui
{
namespace
{
// The only message there is; anything else a client sends is ignored.
constexpr char kShowMessage[] = "show\n";
constexpr qint64 kMaxMessage = 64;
} // namespace

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent), m_name(std::move(name))
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::nameFor(const std::string& dataFolder)
{
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(dataFolder), QCryptographicHash::Sha1);
    return QStringLiteral("Sentorix-%1-%2")
        .arg(::getuid())
        .arg(QString::fromLatin1(digest.toHex().left(12)));
}

bool SingleInstance::notifyRunning(int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(kShowMessage, sizeof kShowMessage - 1);
    socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name)) {
        // A socket file left by a monitor that crashed: nobody answered on it above.
        QLocalServer::removeServer(m_name);
        if (!m_server->listen(m_name))
            return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                const QByteArray message = client->read(kMaxMessage);
                if (message.startsWith(QByteArrayLiteral("show")))
                    emit showRequested();
                client->disconnectFromServer();
            });
        }
    });
    return true;
}

} // namespace sentorix::ui
