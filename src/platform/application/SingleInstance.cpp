#include "platform/application/SingleInstance.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

namespace lumora {

namespace {

constexpr quint32 kMagic = 0x4C4D5231; // "LMR1"
constexpr char kAcknowledgement = 'k';
constexpr qint64 kMaximumMessage = 1 << 20;
constexpr int kReadTimeoutMs = 5000;

} // namespace

QString SingleInstance::defaultSocketPath()
{
    // The runtime folder is the user's own (mode 0700); Qt makes it when the
    // session has none.
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/lumora.socket");
}

SingleInstance::SingleInstance(QString socketPath, QObject* parent) : QObject(parent), m_path(std::move(socketPath)) {}

SingleInstance::~SingleInstance()
{
    if (m_server) m_server->close(); // removes the socket file
}

bool SingleInstance::isListening() const { return m_server && m_server->isListening(); }

QStringList SingleInstance::fileArguments(const QStringList& arguments, const QString& workingDirectory)
{
    QStringList files;
    const QDir base(workingDirectory);
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (!optionsEnded && argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && argument == QLatin1String("-log")) {
            ++i; // its level
        } else if (!optionsEnded && argument.startsWith(QLatin1Char('-'))) {
            continue;
        } else if (!argument.isEmpty()) {
            files << QDir::cleanPath(base.absoluteFilePath(argument));
        }
    }
    return files;
}

SingleInstance::Role SingleInstance::start(const QStringList& arguments, const QString& workingDirectory,
                                           int timeoutMs)
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // One launch at a time looks for the running instance and takes over;
    // a lock left by a process that died is taken over as well.
    QLockFile lock(m_path + QStringLiteral(".lock"));
    const bool locked = lock.tryLock(timeoutMs);

    switch (send(arguments, workingDirectory, timeoutMs)) {
    case Sent::taken: return Role::secondary;
    case Sent::noAnswer: return Role::standalone;
    case Sent::nobody: break;
    }
    if (!locked) return Role::standalone;
    return listen() ? Role::primary : Role::standalone;
}

SingleInstance::Sent SingleInstance::send(const QStringList& arguments, const QString& workingDirectory,
                                          int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_path);
    // A missing socket, or one that nobody listens on, fails at once.
    if (!socket.waitForConnected(timeoutMs)) return Sent::nobody;

    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << kMagic << workingDirectory << arguments;
    QByteArray framed;
    QDataStream frame(&framed, QIODevice::WriteOnly);
    frame << message;
    socket.write(framed);
    if (!socket.waitForBytesWritten(timeoutMs)) return Sent::noAnswer;
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(timeoutMs)) return Sent::noAnswer;
    }
    char answer = 0;
    socket.getChar(&answer);
    return answer == kAcknowledgement ? Sent::taken : Sent::noAnswer;
}

bool SingleInstance::listen()
{
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // Nobody answered on the socket, so whatever file is there is left over.
    QLocalServer::removeServer(m_path);
    if (!server->listen(m_path)) {
        qWarning("Lumora: other launches can't reach this one (%s).", qPrintable(server->errorString()));
        delete server;
        return false;
    }
    m_server = server;
    connect(server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    return true;
}

void SingleInstance::accept()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        // A launch that connects and says nothing is not waited for.
        QTimer::singleShot(kReadTimeoutMs, socket, [socket] { socket->abort(); });
        read(socket);
    }
}

void SingleInstance::read(QLocalSocket* socket)
{
    if (socket->bytesAvailable() > kMaximumMessage + 4) {
        socket->abort();
        return;
    }
    QDataStream in(socket);
    in.startTransaction();
    QByteArray message;
    in >> message;
    if (!in.commitTransaction()) return; // more to come

    QDataStream fields(message);
    quint32 magic = 0;
    QString workingDirectory;
    QStringList arguments;
    fields >> magic >> workingDirectory >> arguments;
    if (fields.status() != QDataStream::Ok || magic != kMagic) {
        socket->abort();
        return;
    }
    socket->putChar(kAcknowledgement);
    socket->flush();
    socket->disconnectFromServer();
    emit argumentsReceived(arguments, workingDirectory);
}

} // namespace lumora
