#include "platform/net/networkconnector.h"

#include "platform/net/networksession.h"

#include <QHostInfo>
#include <QSslSocket>

namespace {
// Bounded, so a flood waits in the server's send queue, not in our memory.
constexpr qint64 ReadBufferSize = 64 * 1024;
constexpr qint64 ReadChunk = 4096;

using P = TelnetComPortProtocol;
}

NetworkConnector::NetworkConnector(const NetworkAddress &address, const TlsFiles &tls, QObject *parent)
    : QObject(parent)
    , m_address(address)
    , m_tls(tls)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &NetworkConnector::timeOut);
}

NetworkConnector::~NetworkConnector()
{
    if (m_lookupId >= 0)
        QHostInfo::abortHostLookup(m_lookupId);
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

bool NetworkConnector::isRunning() const
{
    switch (m_stage) {
    case Stage::LookingUp:
    case Stage::Connecting:
    case Stage::Encrypting:
    case Stage::Negotiating:
    case Stage::Settling:
        return true;
    case Stage::Idle:
    case Stage::Done:
    case Stage::Failed:
        return false;
    }
    return false;
}

void NetworkConnector::createSocket()
{
    if (m_address.isTls()) {
        auto ssl = std::make_unique<QSslSocket>();
        m_sslSocket = ssl.get();
        m_sslSocket->setSslConfiguration(*m_sslConfiguration);
        connect(m_sslSocket, &QSslSocket::encrypted, this, &NetworkConnector::handleEncrypted);
        connect(m_sslSocket, &QSslSocket::sslErrors, this, &NetworkConnector::handleSslErrors);
        m_socket = std::move(ssl);
    } else {
        m_socket = std::make_unique<QTcpSocket>();
    }
    m_socket->setReadBufferSize(ReadBufferSize);
    connect(m_socket.get(), &QAbstractSocket::connected, this, &NetworkConnector::handleConnected);
    connect(m_socket.get(), &QIODevice::readyRead, this, &NetworkConnector::step);
    connect(m_socket.get(), &QAbstractSocket::errorOccurred, this, &NetworkConnector::handleError);
    connect(m_socket.get(), &QAbstractSocket::disconnected, this, &NetworkConnector::handleError);
}

bool NetworkConnector::begin(const SerialPortDevice::OpenLevels &levels)
{
    m_levels = levels;
    m_stage = Stage::LookingUp;
    if (m_address.isTls()) {
        QString reason;
        m_sslConfiguration = m_tls.configuration(&reason);
        if (!m_sslConfiguration) {
            fail(reason);
            return false;
        }
    }
    createSocket();
    m_deadline.start(OpenTimeoutMs);
    return true;
}

void NetworkConnector::start(const SerialPortDevice::OpenLevels &levels)
{
    if (!begin(levels))
        return;
    QHostAddress literal;
    if (literal.setAddress(m_address.host())) {
        connectToAddresses({literal});
        return;
    }
    m_lookupId = QHostInfo::lookupHost(m_address.host(), this, [this](const QHostInfo &info) {
        m_lookupId = -1;
        if (m_stage != Stage::LookingUp)
            return;
        if (info.error() != QHostInfo::NoError) {
            fail(QStringLiteral("cannot find %1 (%2)").arg(m_address.host(), info.errorString()));
            return;
        }
        connectToAddresses(info.addresses());
    });
}

void NetworkConnector::startWith(const SerialPortDevice::OpenLevels &levels,
                                 const std::optional<QList<QHostAddress>> &addresses)
{
    if (!begin(levels))
        return;
    if (addresses)
        connectToAddresses(*addresses);
    else
        timeOut();
}

void NetworkConnector::connectToAddresses(const QList<QHostAddress> &addresses)
{
    if (addresses.isEmpty()) {
        fail(QStringLiteral("cannot find %1").arg(m_address.host()));
        return;
    }
    m_addresses = addresses;
    m_nextAddress = 0;
    m_stage = Stage::Connecting;
    connectNext();
}

void NetworkConnector::retryNow()
{
    if (m_retryPending)
        connectNext();
}

void NetworkConnector::connectNext()
{
    m_retryPending = false;
    if (m_stage != Stage::Connecting)
        return;
    m_socket->abort();
    const QHostAddress address = m_addresses.value(m_nextAddress++);
    if (m_sslSocket) {
        // Connect to the address looked up, verify the name in the address.
        m_sslSocket->connectToHostEncrypted(address.toString(), m_address.port(), m_address.host());
    } else {
        m_socket->connectToHost(address, m_address.port());
    }
}

void NetworkConnector::handleConnected()
{
    if (m_stage != Stage::Connecting)
        return;
    NetworkSession::configureLink(m_socket.get());
    if (m_sslSocket) {
        m_stage = Stage::Encrypting;
        return;
    }
    startNegotiation();
}

void NetworkConnector::handleEncrypted()
{
    if (m_stage != Stage::Encrypting)
        return;
    m_peerCertificateSummary = TlsSetup::certificateSummary(m_sslSocket->peerCertificate());
    startNegotiation();
}

void NetworkConnector::checkSocket()
{
    if (isRunning() && !m_retryPending && m_socket && m_socket->state() == QAbstractSocket::UnconnectedState)
        handleError();
}

void NetworkConnector::handleError()
{
    // A wait that ran out, the caller's own included, is no fault of the link.
    if (m_socket->error() == QAbstractSocket::SocketTimeoutError
        && m_socket->state() != QAbstractSocket::UnconnectedState)
        return;
    if (!isRunning() || m_retryPending)
        return;
    if (m_stage == Stage::Connecting && m_nextAddress < m_addresses.size()) {
        // Another address of the name may answer; not from inside the
        // socket's own error signal.
        m_retryPending = true;
        QMetaObject::invokeMethod(this, &NetworkConnector::retryNow, Qt::QueuedConnection);
        return;
    }
    fail(socketReason());
}

void NetworkConnector::handleSslErrors(const QList<QSslError> &errors)
{
    // Never ignored: the handshake fails after this, with this reason.
    m_tlsReason = m_tls.certificateErrorsReason(errors, m_address.host());
}

void NetworkConnector::startNegotiation()
{
    m_stage = Stage::Negotiating;
    m_protocol.requestComPortControl();
    if (!sendBytes(m_protocol.takeOutgoing())) {
        fail(lostReason());
        return;
    }
    step();
}

void NetworkConnector::step()
{
    if (m_stepping || !(m_stage == Stage::Negotiating || m_stage == Stage::Settling))
        return;
    m_stepping = true;
    while (m_socket->bytesAvailable() > 0) {
        m_protocol.receive(m_socket->read(ReadChunk));
        const QByteArray answers = m_protocol.takeOutgoing();
        if (!answers.isEmpty() && !sendBytes(answers))
            break;
    }
    m_stepping = false;
    if (m_stage == Stage::Negotiating) {
        if (m_protocol.comPortRefused()) {
            fail(QStringLiteral("the server refuses com port control (RFC 2217)"));
            return;
        }
        if (!m_protocol.comPortAccepted())
            return;
        sendLineSettings();
    }
    checkLineSettings();
}

void NetworkConnector::sendLineSettings()
{
    m_stage = Stage::Settling;
    m_protocol.clearReplies();
    const char baud[] = {0, 0, char(0x25), char(0x80)}; // 9600, network byte order
    QByteArray settings = P::comPortCommand(P::SetBaudRate, QByteArrayView(baud, 4));
    settings += P::comPortCommand(P::SetDataSize, quint8(8));
    settings += P::comPortCommand(P::SetParity, P::ParityNone);
    settings += P::comPortCommand(P::SetStopSize, P::StopSizeOne);
    settings += P::comPortCommand(P::SetControl, P::ControlNoFlowControl);
    settings += P::comPortCommand(P::SetModemStateMask, quint8(P::ModemStateInputs | P::ModemStateDeltas));
    // Some servers raise RTS and DTR as a client connects: say what they
    // must be, DTR too where it is the relay line, before the port is ready.
    settings += P::comPortCommand(P::SetControl, m_levels.rts ? P::ControlRtsOn : P::ControlRtsOff);
    if (m_levels.dtr)
        settings += P::comPortCommand(P::SetControl, *m_levels.dtr ? P::ControlDtrOn : P::ControlDtrOff);
    if (!sendBytes(settings))
        fail(lostReason());
}

void NetworkConnector::checkLineSettings()
{
    if (m_stage != Stage::Settling)
        return;
    // The server answers each line setting with what it now uses. The answer
    // to RTS is not awaited: some servers never send one.
    const P::Replies &r = m_protocol.replies();
    if (!(r.baudRate && r.dataSize && r.parity && r.stopSize && r.flowControl))
        return;
    if (*r.baudRate != 9600 || *r.dataSize != 8 || *r.parity != P::ParityNone || *r.stopSize != P::StopSizeOne
        || *r.flowControl != P::ControlNoFlowControl) {
        fail(QStringLiteral("the server cannot set 9600 8N1 without flow control "
                            "(it answered %1 baud, %2 data bits, parity %3, stop size %4, control %5)")
                 .arg(*r.baudRate)
                 .arg(*r.dataSize)
                 .arg(*r.parity)
                 .arg(*r.stopSize)
                 .arg(*r.flowControl));
        return;
    }
    succeed();
}

bool NetworkConnector::sendBytes(const QByteArray &bytes)
{
    return sendNow(*m_socket, bytes);
}

void NetworkConnector::succeed()
{
    m_deadline.stop();
    m_stage = Stage::Done;
    emit succeeded();
}

void NetworkConnector::timeOut()
{
    if (isRunning())
        fail(timeoutReason());
}

void NetworkConnector::fail(const QString &reason)
{
    m_deadline.stop();
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    m_retryPending = false;
    m_stage = Stage::Failed;
    if (m_socket)
        m_socket->abort();
    emit failed(reason);
}

std::unique_ptr<QTcpSocket> NetworkConnector::takeSocket()
{
    if (m_stage != Stage::Done || !m_socket)
        return nullptr;
    m_socket->disconnect(this);
    m_sslSocket = nullptr;
    return std::move(m_socket);
}

QString NetworkConnector::timeoutReason() const
{
    switch (m_stage) {
    case Stage::LookingUp:
        return QStringLiteral("cannot find %1 within %2 ms").arg(m_address.host()).arg(OpenTimeoutMs);
    case Stage::Connecting:
        return QStringLiteral("no connection within %1 ms").arg(OpenTimeoutMs);
    case Stage::Encrypting:
        return QStringLiteral("no TLS handshake within %1 ms").arg(OpenTimeoutMs);
    case Stage::Negotiating:
        return QStringLiteral("the server did not take up com port control within %1 ms").arg(OpenTimeoutMs);
    default:
        return QStringLiteral("the server did not confirm the line settings within %1 ms").arg(OpenTimeoutMs);
    }
}

QString NetworkConnector::socketReason() const
{
    if (!m_tlsReason.isEmpty())
        return m_tlsReason;
    if (m_sslSocket && (m_stage == Stage::Encrypting || m_stage == Stage::Negotiating))
        return m_tls.handshakeFailureReason(m_socket->error(), m_socket->errorString());
    if (m_stage == Stage::Negotiating || m_stage == Stage::Settling)
        return lostReason();
    return m_socket->errorString();
}

QString NetworkConnector::lostReason() const
{
    return QStringLiteral("connection to the device server lost (%1)").arg(m_socket->errorString());
}
