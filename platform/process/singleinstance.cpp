#include "platform/process/singleinstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>

namespace {

const QByteArray raiseRequest = "raise\n";
const QByteArray raisedAnswer = "raised\n";
// Longer lines are no request of ours.
constexpr qint64 longestLine = 64;

// Not the settings file's own ".lock": QSettings takes that one for a
// moment at every write.
QString lockFileFor(const QString &settingsFile)
{
    return settingsFile + QStringLiteral(".running");
}

QString serverNameFor(const QString &settingsFile)
{
    // The same file reached through a linked folder must give the same name.
    const QFileInfo file(settingsFile);
    const QString folder = file.dir().canonicalPath();
    const QString path = folder.isEmpty() ? file.absoluteFilePath() : folder + QLatin1Char('/') + file.fileName();
    const QString name = QStringLiteral("zelvo-footswitch2-")
        + QString::fromLatin1(QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
    // The runtime folder belongs to the user alone; without one, Qt puts the
    // socket into the temporary folder.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? name : runtime + QLatin1Char('/') + name;
}

} // namespace

SingleInstance::SingleInstance(const QString &settingsFile, QObject *parent)
    : QObject(parent)
    , m_lockFile(lockFileFor(settingsFile))
    , m_settingsFile(settingsFile)
{
    // Only a live holder counts: however old, a lock is good while its
    // program runs (where the file system has no native locks to tell),
    // and a killed program's lock is stale at once.
    m_lockFile.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim()
{
    // The folder is missing before the very first run.
    QDir().mkpath(QFileInfo(m_settingsFile).absolutePath());
    m_serverName = serverNameFor(m_settingsFile);

    if (!m_lockFile.tryLock(0)) {
        if (m_lockFile.error() == QLockFile::LockFailedError)
            return false;
        // Better two copies than none: the user can still end one.
        qWarning("Cannot take the lock %s: another copy of the program would not be noticed",
                 qPrintable(m_lockFile.fileName()));
        return true;
    }

    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Qt replaces a socket file that a killed run left behind.
    if (!m_server->listen(m_serverName)) {
        qWarning("Cannot listen on %s (%s): a second start cannot bring this window to the front",
                 qPrintable(m_serverName), qPrintable(m_server->errorString()));
        return true;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return true;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
        // A request may have arrived with the connection.
        readRequest(socket);
    }
}

void SingleInstance::readRequest(QLocalSocket *socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > longestLine)
            socket->abort();
        return;
    }
    if (socket->readLine(longestLine + 1) != raiseRequest) {
        socket->abort();
        return;
    }
    emit raiseRequested();
    socket->write(raisedAnswer);
    // Closes once the answer is written.
    socket->disconnectFromServer();
}

void SingleInstance::handOver()
{
    m_deadline = new QTimer(this);
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, [this] {
        // Still a hand-over, not a failure: the first copy runs and keeps
        // the ports, and a busy one raises its window once it reads the
        // request. Straight to standard error, whatever Qt's log goes to.
        std::fprintf(stderr,
                     "Zelvo-Footswitch2 already runs with %s but did not answer within %d s; "
                     "its window may not have come to the front.\n",
                     qPrintable(QDir::toNativeSeparators(m_settingsFile)), HandOverTimeoutMs / 1000);
        std::fflush(stderr);
        finishHandOver(0);
    });
    m_retryTimer = new QTimer(this);
    m_retryTimer->setSingleShot(true);
    m_retryTimer->setInterval(RetryIntervalMs);
    connect(m_retryTimer, &QTimer::timeout, this, &SingleInstance::tryToConnect);

    m_client = new QLocalSocket(this);
    connect(m_client, &QLocalSocket::connected, this, [this] { m_client->write(raiseRequest); });
    connect(m_client, &QLocalSocket::readyRead, this, [this] {
        if (!m_client->canReadLine())
            return;
        if (m_client->readLine(longestLine + 1) == raisedAnswer)
            finishHandOver(0);
    });
    // The running copy may have taken the lock without listening yet, or
    // have dropped the connection while ending: try again until the deadline.
    connect(m_client, &QLocalSocket::errorOccurred, this, [this] {
        if (!m_finished)
            m_retryTimer->start();
    });

    m_deadline->start(HandOverTimeoutMs);
    tryToConnect();
}

void SingleInstance::tryToConnect()
{
    m_client->abort();
    m_client->connectToServer(m_serverName);
}

void SingleInstance::finishHandOver(int exitStatus)
{
    if (m_finished)
        return;
    m_finished = true;
    m_deadline->stop();
    m_retryTimer->stop();
    m_client->abort();
    emit handedOver(exitStatus);
}
