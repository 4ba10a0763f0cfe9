#include "core/rigctlserver.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// Bytes taken from a client at a time, and the answers it may leave unread
// before it is no longer read from.
constexpr qint64 readChunk = 4096;
constexpr qint64 maxUnsentAnswers = 64 * 1024;

QString clientName(const QTcpSocket &socket)
{
    const QHostAddress address = socket.peerAddress();
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                             : address.toString();
    return host + QLatin1Char(':') + QString::number(socket.peerPort());
}

} // namespace

RigctlServer::RigctlServer(QObject *parent)
    : QObject(parent)
{
}

RigctlServer::~RigctlServer()
{
    for (const auto &[socket, client] : m_clients)
        socket->disconnect(this);
}

bool RigctlServer::listen(const QString &hostAndPort)
{
    close();
    const qsizetype colon = hostAndPort.lastIndexOf(QLatin1Char(':'));
    QString host = hostAndPort.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool portOk = false;
    const uint port = hostAndPort.mid(colon + 1).toUInt(&portOk);
    QHostAddress address(host);
    if (host == QLatin1String("localhost"))
        address = QHostAddress(QHostAddress::LocalHost);
    if (colon < 0 || !portOk || port > 65535 || address.isNull()) {
        m_error = QStringLiteral("Write the rigctld address as HOST:PORT, for example 127.0.0.1:4532.");
        return false;
    }
    m_server = new QTcpServer(this);
    connect(m_server, &QTcpServer::newConnection, this, &RigctlServer::acceptClients);
    if (!m_server->listen(address, static_cast<quint16>(port))) {
        m_error = m_server->errorString();
        delete m_server;
        m_server = nullptr;
        return false;
    }
    m_error.clear();
    return true;
}

void RigctlServer::close()
{
    delete m_server;
    m_server = nullptr;
    while (!m_clients.empty()) {
        QTcpSocket *socket = m_clients.begin()->first;
        socket->disconnect(this);
        socket->abort();
        dropClient(socket);
    }
}

bool RigctlServer::isListening() const
{
    return m_server && m_server->isListening();
}

quint16 RigctlServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

void RigctlServer::setPttState(bool on)
{
    m_pttOn = on;
    for (auto &[socket, client] : m_clients)
        client.protocol->setPttState(on);
}

void RigctlServer::acceptClients()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        socket->setReadBufferSize(readChunk);
        Client &client = m_clients[socket];
        client.name = clientName(*socket);
        client.protocol = std::make_unique<RigctlProtocol>(m_rig);
        client.protocol->setPttState(m_pttOn);
        client.protocol->setPttHandler([this, name = client.name](bool on) { emit pttRequested(name, on); });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { serve(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { dropClient(socket); });
        if (socket->state() != QAbstractSocket::ConnectedState)
            dropClient(socket);
        else
            serve(socket);
    }
}

void RigctlServer::serve(QTcpSocket *socket)
{
    const auto found = m_clients.find(socket);
    if (found == m_clients.end())
        return;
    RigctlProtocol &protocol = *found->second.protocol;
    while (!protocol.isClosed() && socket->bytesAvailable() > 0 && socket->bytesToWrite() < maxUnsentAnswers)
        socket->write(protocol.receive(socket->read(readChunk)));
    // The answer to "q" or to an overlong line goes out before the close.
    if (protocol.isClosed() && socket->state() == QAbstractSocket::ConnectedState)
        socket->disconnectFromHost();
}

void RigctlServer::dropClient(QTcpSocket *socket)
{
    const auto found = m_clients.find(socket);
    if (found == m_clients.end())
        return;
    const QString name = found->second.name;
    m_clients.erase(found);
    socket->disconnect(this);
    socket->deleteLater();
    emit clientGone(name);
}
