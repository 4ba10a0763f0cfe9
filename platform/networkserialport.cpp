#include "platform/networkserialport.h"

#include <QUrl>

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
constexpr qint64 ReadBufferSize = 64 * 1024;
}

NetworkSerialPort::NetworkSerialPort(const QString &address)
    : m_address(address)
{
    parseAddress();
    // Bounded, so a flood waits in the server's send queue, not in our memory.
    m_socket.setReadBufferSize(ReadBufferSize);
}

NetworkSerialPort::~NetworkSerialPort()
{
    close();
}

bool NetworkSerialPort::isNetworkAddress(const QString &location)
{
    return location.startsWith(QLatin1String("rfc2217:"), Qt::CaseInsensitive);
}

void NetworkSerialPort::parseAddress()
{
    const QUrl url(m_address, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().compare(QLatin1String("rfc2217"), Qt::CaseInsensitive) != 0
        || url.host().isEmpty() || url.port() < 1 || url.port() > 65535 || !url.userInfo().isEmpty()
        || url.hasQuery() || url.hasFragment() || !(url.path().isEmpty() || url.path() == QLatin1String("/")))
        return;
    m_host = url.host();
    m_port = quint16(url.port());
}

bool NetworkSerialPort::open(bool rts)
{
    if (!isAddressValid())
        return failOpen(QStringLiteral("not a valid address, expected rfc2217://HOST:PORT"));

    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
    m_protocol = TelnetComPortProtocol();
    m_open = false;

    const QDeadlineTimer deadline(OpenTimeoutMs);
    m_socket.connectToHost(m_host, m_port);
    if (!m_socket.waitForConnected(int(qMax<qint64>(1, deadline.remainingTime())))) {
        const QString reason = m_socket.error() == QAbstractSocket::SocketTimeoutError
            ? QStringLiteral("no connection within %1 ms").arg(OpenTimeoutMs)
            : m_socket.errorString();
        m_socket.abort();
        return failOpen(reason);
    }
    configureLink();

    m_protocol.requestComPortControl();
    if (!sendPending())
        return failOpen(lostReason());
    if (!waitUntil([this] { return m_protocol.comPortAccepted() || m_protocol.comPortRefused(); }, deadline))
        return failOpen(m_socket.state() == QAbstractSocket::ConnectedState
                            ? QStringLiteral("the server did not take up com port control within %1 ms").arg(OpenTimeoutMs)
                            : lostReason());
    if (m_protocol.comPortRefused())
        return failOpen(QStringLiteral("the server refuses com port control (RFC 2217)"));

    using P = TelnetComPortProtocol;
    m_protocol.clearReplies();
    const char baud[] = {0, 0, char(0x25), char(0x80)}; // 9600, network byte order
    QByteArray settings = P::comPortCommand(P::SetBaudRate, QByteArrayView(baud, 4));
    settings += P::comPortCommand(P::SetDataSize, quint8(8));
    settings += P::comPortCommand(P::SetParity, P::ParityNone);
    settings += P::comPortCommand(P::SetStopSize, P::StopSizeOne);
    settings += P::comPortCommand(P::SetControl, P::ControlNoFlowControl);
    settings += P::comPortCommand(P::SetModemStateMask, quint8(P::ModemStateInputs | P::ModemStateDeltas));
    // Some servers raise RTS as a client connects: say what it must be.
    settings += P::comPortCommand(P::SetControl, rts ? P::ControlRtsOn : P::ControlRtsOff);
    if (!sendBytes(settings))
        return failOpen(lostReason());

    // The server answers each line setting with what it now uses. The answer
    // to RTS is not awaited: some servers never send one.
    const auto settled = [this] {
        const P::Replies &r = m_protocol.replies();
        return r.baudRate && r.dataSize && r.parity && r.stopSize && r.flowControl;
    };
    if (!waitUntil(settled, deadline))
        return failOpen(m_socket.state() == QAbstractSocket::ConnectedState
                            ? QStringLiteral("the server did not confirm the line settings within %1 ms").arg(OpenTimeoutMs)
                            : lostReason());
    const P::Replies &r = m_protocol.replies();
    if (*r.baudRate != 9600 || *r.dataSize != 8 || *r.parity != P::ParityNone || *r.stopSize != P::StopSizeOne
        || *r.flowControl != P::ControlNoFlowControl) {
        const QString reason = QStringLiteral("the server cannot set 9600 8N1 without flow control "
                                              "(it answered %1 baud, %2 data bits, parity %3, stop size %4, control %5)")
                                   .arg(*r.baudRate).arg(*r.dataSize).arg(*r.parity).arg(*r.stopSize).arg(*r.flowControl);
        close();
        return failOpen(reason);
    }
    m_open = true;
    m_failure = Failure::None;
    m_errorString.clear();
    return true;
}

void NetworkSerialPort::close()
{
    m_open = false;
    if (m_socket.state() == QAbstractSocket::UnconnectedState) {
        m_socket.close();
        return;
    }
    if (m_socket.state() == QAbstractSocket::ConnectedState) {
        // Leave the remote transmitter released, not keyed by a dead client.
        m_socket.write(TelnetComPortProtocol::comPortCommand(TelnetComPortProtocol::SetControl,
                                                             TelnetComPortProtocol::ControlRtsOff));
        m_socket.flush();
        if (m_socket.bytesToWrite() > 0)
            m_socket.waitForBytesWritten(CloseFlushMs);
        m_socket.disconnectFromHost();
        if (m_socket.state() != QAbstractSocket::UnconnectedState)
            m_socket.waitForDisconnected(CloseFlushMs);
    }
    m_socket.abort();
    m_socket.close();
}

bool NetworkSerialPort::setRts(bool on)
{
    if (!m_open)
        return fail(Failure::Other, QStringLiteral("port is not open"));
    if (!drain())
        return fail(Failure::DeviceLost, lostReason());
    using P = TelnetComPortProtocol;
    if (!sendBytes(P::comPortCommand(P::SetControl, on ? P::ControlRtsOn : P::ControlRtsOff)))
        return fail(Failure::DeviceLost, lostReason());
    return true;
}

bool NetworkSerialPort::setDtr(bool on)
{
    if (!m_open)
        return fail(Failure::Other, QStringLiteral("port is not open"));
    if (!drain())
        return fail(Failure::DeviceLost, lostReason());
    using P = TelnetComPortProtocol;
    if (!sendBytes(P::comPortCommand(P::SetControl, on ? P::ControlDtrOn : P::ControlDtrOff)))
        return fail(Failure::DeviceLost, lostReason());
    return true;
}

bool NetworkSerialPort::readLine(InputLine line, bool *asserted)
{
    if (!m_open)
        return fail(Failure::Other, QStringLiteral("port is not open"));
    if (!drain())
        return fail(Failure::DeviceLost, lostReason());
    using P = TelnetComPortProtocol;
    const quint8 state = m_protocol.modemState().value_or(0);
    switch (line) {
    case InputLine::Cts:
        *asserted = state & P::ModemStateCts;
        break;
    case InputLine::Dsr:
        *asserted = state & P::ModemStateDsr;
        break;
    case InputLine::Dcd:
        *asserted = state & P::ModemStateDcd;
        break;
    case InputLine::Ri:
        *asserted = state & P::ModemStateRi;
        break;
    }
    return true;
}

bool NetworkSerialPort::failOpen(const QString &reason)
{
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
    m_open = false;
    m_failure = Failure::OpenFailed;
    m_errorString = QStringLiteral("%1: %2").arg(m_address, reason);
    return false;
}

bool NetworkSerialPort::fail(Failure failure, const QString &reason)
{
    m_failure = failure;
    m_errorString = QStringLiteral("%1: %2").arg(m_address, reason);
    return false;
}

QString NetworkSerialPort::lostReason() const
{
    return QStringLiteral("connection to the device server lost (%1)").arg(m_socket.errorString());
}

void NetworkSerialPort::configureLink()
{
    // Each RTS change is one small write that should leave at once.
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    const int fd = int(m_socket.socketDescriptor());
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

bool NetworkSerialPort::sendBytes(const QByteArray &bytes)
{
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return false;
    if (m_socket.write(bytes) != bytes.size())
        return false;
    // Hand it to the kernel now rather than at the next turn of the event
    // loop; flush() does not block.
    m_socket.flush();
    return m_socket.state() == QAbstractSocket::ConnectedState;
}

bool NetworkSerialPort::sendPending()
{
    const QByteArray answers = m_protocol.takeOutgoing();
    return answers.isEmpty() || sendBytes(answers);
}

bool NetworkSerialPort::drain()
{
    for (int chunk = 0; chunk < MaxChunksPerDrain; ++chunk) {
        if (m_socket.bytesAvailable() <= 0) {
            // waitForReadyRead(0) polls the socket once without blocking; it
            // is also how a closed or reset connection shows up when no event
            // loop has run since.
            if (m_socket.state() != QAbstractSocket::ConnectedState || !m_socket.waitForReadyRead(0))
                break;
        }
        m_protocol.receive(m_socket.read(ReadChunk));
        if (!sendPending())
            break;
    }
    return m_socket.state() == QAbstractSocket::ConnectedState;
}

bool NetworkSerialPort::waitUntil(const std::function<bool()> &done, const QDeadlineTimer &deadline)
{
    for (;;) {
        if (!drain())
            return false;
        if (done())
            return true;
        const qint64 remaining = deadline.remainingTime();
        if (remaining <= 0)
            return false;
        m_socket.waitForReadyRead(int(remaining));
    }
}
