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

const QString addressHint = QStringLiteral("Write the rigctld address as HOST:PORT, for example 127.0.0.1:4532.");

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

bool RigctlServer::parseAddress(const QString &hostAndPort, QHostAddress &address, quint16 &port)
{
    const qsizetype colon = hostAndPort.lastIndexOf(QLatin1Char(':'));
    QString host = hostAndPort.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool portOk = false;
    const uint number = hostAndPort.mid(colon + 1).toUInt(&portOk);
    address = host == QLatin1String("localhost") ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(host);
    port = static_cast<quint16>(number);
    return colon >= 0 && portOk && number <= 65535 && !address.isNull();
}

bool RigctlServer::listen(const QString &hostAndPort)
{
    close();
    QHostAddress address;
    quint16 port = 0;
    if (!parseAddress(hostAndPort, address, port)) {
        m_error = addressHint;
        return false;
    }
    m_server = new QTcpServer(this);
    connect(m_server, &QTcpServer::newConnection, this, &RigctlServer::acceptClients);
    if (!m_server->listen(address, port)) {
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

bool RigctlServer::setUpstream(const QString &hostAndPort)
{
    QHostAddress address;
    quint16 port = 0;
    if (!hostAndPort.isEmpty() && !parseAddress(hostAndPort, address, port)) {
        m_error = addressHint;
        return false;
    }
    m_upstreamAddress = address;
    m_upstreamPort = port;
    for (auto &[socket, client] : m_clients)
        attachUpstream(socket, client);
    return true;
}

void RigctlServer::attachUpstream(QTcpSocket *socket, Client &client)
{
    if (client.upstream) { // a command it was passing on gets the I/O error
        QObject::disconnect(client.upstream, nullptr, socket, nullptr);
        client.upstream->deleteLater();
        client.upstream = nullptr;
    }
    const bool forwarding = !m_upstreamAddress.isNull();
    client.protocol->setForwarding(forwarding);
    if (forwarding) {
        client.upstream = new RigctlUpstream(m_upstreamAddress, m_upstreamPort, socket);
        // The socket as context: after dropClient() nothing reaches this.
        const auto answer = [this, socket](const std::optional<QByteArray> &answer) {
            const auto found = m_clients.find(socket);
            if (found == m_clients.end())
                return;
            socket->write(found->second.protocol->answerForwarded(answer));
            serve(socket);
        };
        connect(client.upstream, &RigctlUpstream::answered, socket, answer);
        connect(client.upstream, &RigctlUpstream::failed, socket, [answer] { answer(std::nullopt); });
    }
    if (client.protocol->isWaiting()) {
        socket->write(client.protocol->answerForwarded(std::nullopt));
        serve(socket);
    }
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
        attachUpstream(socket, client);
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
    Client &client = found->second;
    RigctlProtocol &protocol = *client.protocol;
    // While a command waits for the radio, the client is not read from: what
    // it sent meanwhile stays in the socket (or, at most a chunk, in protocol).
    while (!protocol.isClosed() && !protocol.isWaiting() && socket->bytesAvailable() > 0
           && socket->bytesToWrite() < maxUnsentAnswers)
        socket->write(protocol.receive(socket->read(readChunk)));
    if (const QByteArray line = protocol.lineToForward(); !line.isEmpty() && client.upstream)
        client.upstream->send(line);
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
