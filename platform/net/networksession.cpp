#include "platform/net/networksession.h"

#include <QTcpSocket>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {
// Reading is bounded per call too, so that a server flooding us with data
// cannot hold the window: the rest waits for the next call.
constexpr qint64 ReadChunk = 4096;
constexpr int MaxChunksPerDrain = 16;

using P = TelnetComPortProtocol;
}

NetworkSession::NetworkSession(std::unique_ptr<QTcpSocket> socket, const TelnetComPortProtocol &protocol,
                               quint32 lineControlsSent, QObject *parent)
    : QObject(parent)
    , m_socket(std::move(socket))
    , m_protocol(protocol)
    , m_seenInputChanges(protocol.inputChangeCount())
    , m_lineControlsSent(lineControlsSent)
{
    connect(m_socket.get(), &QIODevice::readyRead, this, &NetworkSession::step);
    connect(m_socket.get(), &QAbstractSocket::disconnected, this, &NetworkSession::markLost);
    connect(m_socket.get(), &QAbstractSocket::errorOccurred, this, [this] {
        // A wait that ran out, our own polling included, is no fault of the link.
        if (m_socket->error() == QAbstractSocket::SocketTimeoutError
            && m_socket->state() != QAbstractSocket::UnconnectedState)
            return;
        markLost();
    });
    m_heartbeatTimer.setInterval(HeartbeatIntervalMs);
    connect(&m_heartbeatTimer, &QTimer::timeout, this, &NetworkSession::sendHeartbeat);
}

NetworkSession::~NetworkSession()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void NetworkSession::configureLink(QTcpSocket *socket)
{
    // Each RTS change is one small write that should leave at once.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    const int fd = int(socket->socketDescriptor());
    const int idle = KeepAliveIdleS;
    const int interval = KeepAliveIntervalS;
    const int count = KeepAliveCount;
    const unsigned int userTimeout = UserTimeoutMs;
    // Best effort: without them a dead link is found late, not never.
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
#endif
}

void NetworkSession::poll()
{
    step();
}

void NetworkSession::step()
{
    if (m_draining || m_lost || !m_socket)
        return;
    drain();
    if (m_awaitingAnswers && m_protocol.lineControlAnswerCount() >= m_lineControlsSent) {
        m_awaitingAnswers = false;
        emit writesConfirmed();
    }
    if (m_protocol.inputChangeCount() != m_seenInputChanges) {
        m_seenInputChanges = m_protocol.inputChangeCount();
        emit lineChanged();
    }
}

void NetworkSession::drain()
{
    m_draining = true;
    for (int chunk = 0; chunk < MaxChunksPerDrain; ++chunk) {
        if (m_socket->bytesAvailable() <= 0) {
            // waitForReadyRead(0) polls the socket once and returns at once;
            // it is also how a closed or reset connection shows up when no
            // event loop has run since.
            if (m_socket->state() != QAbstractSocket::ConnectedState || !m_socket->waitForReadyRead(0))
                break;
        }
        m_protocol.receive(m_socket->read(ReadChunk));
        const QByteArray answers = m_protocol.takeOutgoing();
        if (!answers.isEmpty() && !sendBytes(answers))
            break;
    }
    m_draining = false;
    if (!m_lost && m_socket->state() != QAbstractSocket::ConnectedState)
        markLost();
}

bool NetworkSession::setRts(bool on)
{
    return sendControl(on ? P::ControlRtsOn : P::ControlRtsOff);
}

bool NetworkSession::setDtr(bool on)
{
    m_dtrDriven = true;
    return sendControl(on ? P::ControlDtrOn : P::ControlDtrOff);
}

bool NetworkSession::sendControl(quint8 value)
{
    if (m_lost)
        return false;
    if (!sendBytes(P::comPortCommand(P::SetControl, value))) {
        markLost();
        return false;
    }
    ++m_lineControlsSent;
    m_awaitingAnswers = true;
    return true;
}

bool sendNow(QTcpSocket &socket, const QByteArray &bytes)
{
    if (socket.state() != QAbstractSocket::ConnectedState)
        return false;
    if (socket.write(bytes) != bytes.size())
        return false;
    // Hand it to the kernel now rather than at the next turn of the event
    // loop.
    socket.flush();
    return socket.state() == QAbstractSocket::ConnectedState;
}

bool NetworkSession::sendBytes(const QByteArray &bytes)
{
    return sendNow(*m_socket, bytes);
}

void NetworkSession::setHeartbeat(bool on)
{
    if (on && !m_lost)
        m_heartbeatTimer.start();
    else
        m_heartbeatTimer.stop();
}

void NetworkSession::sendHeartbeat()
{
    // A data byte, which a device server counts as activity where it does
    // not count Telnet commands; NUL is the byte devices on the line ignore.
    if (!m_lost && !sendBytes(QByteArray(1, '\0')))
        markLost();
}

int NetworkSession::socketDescriptor() const
{
    return m_lost || !m_socket ? -1 : int(m_socket->socketDescriptor());
}

void NetworkSession::markLost()
{
    if (m_lost)
        return;
    m_lost = true;
    m_lostReason = QStringLiteral("connection to the device server lost (%1)").arg(m_socket->errorString());
    m_heartbeatTimer.stop();
    emit lineChanged();
}

std::unique_ptr<QTcpSocket> NetworkSession::release()
{
    m_heartbeatTimer.stop();
    m_socket->disconnect(this);
    if (!m_lost && m_socket->state() == QAbstractSocket::ConnectedState) {
        // Leave the remote transmitter released, not keyed by a dead client,
        // whichever line keys it.
        QByteArray release = P::comPortCommand(P::SetControl, P::ControlRtsOff);
        if (m_dtrDriven)
            release += P::comPortCommand(P::SetControl, P::ControlDtrOff);
        m_socket->write(release);
        m_socket->flush();
    }
    m_lost = true;
    return std::move(m_socket);
}
