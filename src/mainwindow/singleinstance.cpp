#include "mainwindow/singleinstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

namespace {

// A start that hands over waits at most this long for each step; a running program answers in
// milliseconds, so a program that does not is hung and the new start takes over.
constexpr int kStepMs = 2000;
// Arguments are a few hundred bytes; more is not a start of ours.
constexpr qint64 kMaxMessage = 64 * 1024;

QString absolute(const QString &path)
{
    return path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
}

} // namespace

SingleInstance::SingleInstance(const QString &key, QObject *parent) : QObject(parent), m_key(key) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::keyFor(const QString &settingsPath, const QString &databasePath, bool demo)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    // The user too: the socket's name is in a folder every user shares.
    hash.addData(qgetenv("USER") + '\0' + qgetenv("USERNAME") + '\0');
    hash.addData(absolute(settingsPath).toUtf8() + '\0');
    hash.addData(absolute(databasePath).toUtf8() + '\0');
    hash.addData(demo ? "demo" : "hosts");
    return QStringLiteral("brelvon-") + QString::fromLatin1(hash.result().toHex().left(24));
}

bool SingleInstance::handOverOrListen(const QStringList &arguments)
{
    // Serialises the check and the listen: two starts at once must not both remove a socket and
    // listen, leaving one of them unreachable.
    QLockFile lock(QDir::temp().filePath(m_key + QStringLiteral(".lock")));
    lock.setStaleLockTime(10000);
    const bool locked = lock.tryLock(3 * kStepMs);
    if (handOver(arguments))
        return true;
    if (locked)
        listen();
    return false;
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

bool SingleInstance::handOver(const QStringList &arguments)
{
    QLocalSocket socket;
    socket.connectToServer(m_key);
    if (!socket.waitForConnected(kStepMs))
        return false;
    socket.write(
        QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact) + '\n');
    if (!socket.waitForBytesWritten(kStepMs))
        return false;
    // The answer says the running program took them; a hung one is not handed anything.
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(kStepMs))
            return false;
    }
    return socket.readLine().trimmed() == "ok";
}

void SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::takeConnection);
    // Nobody answered: a socket left by a program that crashed is in the way.
    if (!m_server->listen(m_key) && m_server->serverError() == QAbstractSocket::AddressInUseError) {
        QLocalServer::removeServer(m_key);
        m_server->listen(m_key);
    }
}

void SingleInstance::takeConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxMessage)
                    socket->abort();
                return;
            }
            const QJsonDocument message = QJsonDocument::fromJson(socket->readLine());
            socket->disconnect(this);
            if (!message.isArray()) {
                socket->abort();
                return;
            }
            QStringList arguments;
            for (const QJsonValue &value : message.array())
                arguments.append(value.toString());
            socket->write("ok\n");
            socket->flush();
            socket->disconnectFromServer();
            emit argumentsReceived(arguments);
        });
    }
}
