#include "platform/net/networkserialport.h"

#include "platform/net/closingconnections.h"
#include "platform/process/alternatesignalstack.h"

#include <QHostInfo>
#include <QSslSocket>
#include <QTcpSocket>
#include <QUrl>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#ifdef Q_OS_UNIX
#include <netdb.h>
#endif

namespace {
using P = TelnetComPortProtocol;
}

NetworkSerialPort::NetworkSerialPort(const QString &address, const TlsFiles &tls, ClosingConnections *closing)
    : m_text(address)
    , m_address(NetworkAddress::parse(address))
    , m_tlsFiles(tls)
    , m_closing(closing)
{
    if (!m_closing) {
        m_ownClosing = std::make_unique<ClosingConnections>();
        m_closing = m_ownClosing.get();
    }
}

NetworkSerialPort::~NetworkSerialPort()
{
    close();
}

NetworkSerialPort::HostResolver NetworkSerialPort::systemResolver()
{
    return [](const QString &host) {
        QList<QHostAddress> addresses;
#ifdef Q_OS_UNIX
        // getaddrinfo() rather than QHostInfo::fromName(): an abandoned
        // lookup may still run as the program ends, and then must need no
        // more of Qt than plain values.
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_ADDRCONFIG;
        addrinfo *found = nullptr;
        if (::getaddrinfo(QUrl::toAce(host).constData(), nullptr, &hints, &found) == 0) {
            for (const addrinfo *entry = found; entry; entry = entry->ai_next) {
                const QHostAddress address(entry->ai_addr);
                if (!address.isNull() && !addresses.contains(address))
                    addresses.append(address);
            }
            ::freeaddrinfo(found);
        }
#else
        addresses = QHostInfo::fromName(host).addresses();
#endif
        return addresses;
    };
}

std::optional<QList<QHostAddress>> NetworkSerialPort::lookUpWithin(const QString &host, const QDeadlineTimer &deadline,
                                                                  const HostResolver &resolver)
{
    // Shared with the worker, which outlives this call when it is late.
    struct Lookup
    {
        std::mutex mutex;
        std::condition_variable finished;
        std::optional<QList<QHostAddress>> addresses;
    };
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, resolver] {
            // A crash inside the resolver must still release the outputs.
            const AlternateSignalStack signalStack;
            QList<QHostAddress> addresses = resolver(host);
            const std::lock_guard<std::mutex> lock(lookup->mutex);
            lookup->addresses = std::move(addresses);
            lookup->finished.notify_all();
        }).detach();
    } catch (const std::system_error &) {
        return std::nullopt;
    }
    std::unique_lock<std::mutex> lock(lookup->mutex);
    lookup->finished.wait_until(lock, deadline.deadline<std::chrono::steady_clock>(),
                                [&lookup] { return lookup->addresses.has_value(); });
    return lookup->addresses;
}

bool NetworkSerialPort::startConnector()
{
    if (!isAddressValid())
        return failOpen(m_address.error());
    m_peerCertificateSummary.clear();
    m_lineChangePosted = false;
    m_connector = std::make_unique<NetworkConnector>(m_address, m_tlsFiles);
    QObject::connect(m_connector.get(), &NetworkConnector::succeeded, &m_context, [this] { handleConnected(); });
    QObject::connect(m_connector.get(), &NetworkConnector::failed, &m_context,
                     [this](const QString &reason) { failOpen(reason); });
    return true;
}

bool NetworkSerialPort::open(const OpenLevels &levels)
{
    close();
    m_dtrAtOpen = levels.dtr.has_value();
    const QDeadlineTimer deadline(OpenTimeoutMs);
    if (!startConnector())
        return false;
    QHostAddress literal;
    if (literal.setAddress(m_address.host()))
        m_connector->start(levels);
    else
        m_connector->startWith(levels, lookUpWithin(m_address.host(), deadline));

    // Each wait emits the socket's signals, whose handlers move the open on
    // exactly as the event loop would for openInBackground().
    while (m_connector && m_connector->isRunning()) {
        m_connector->retryNow();
        const int remaining = int(deadline.remainingTime());
        if (remaining <= 0) {
            m_connector->timeOut();
            break;
        }
        QTcpSocket *socket = m_connector->socket();
        bool progressed = false;
        switch (m_connector->stage()) {
        case NetworkConnector::Stage::Connecting:
            progressed = socket->waitForConnected(remaining);
            break;
        case NetworkConnector::Stage::Encrypting:
            progressed = static_cast<QSslSocket *>(socket)->waitForEncrypted(remaining);
            break;
        default:
            progressed = socket->waitForReadyRead(remaining);
            break;
        }
        // A refusal may show only in the socket's state.
        if (!progressed)
            m_connector->checkSocket();
    }
    return m_session != nullptr;
}

void NetworkSerialPort::openInBackground(const OpenLevels &levels, std::function<void(bool opened)> done)
{
    close();
    m_done = std::move(done);
    m_dtrAtOpen = levels.dtr.has_value();
    if (startConnector())
        m_connector->start(levels);
}

void NetworkSerialPort::handleConnected()
{
    m_peerCertificateSummary = m_connector->peerCertificateSummary();
    m_session = std::make_unique<NetworkSession>(m_connector->takeSocket(), m_connector->protocol(),
                                                 m_connector->lineControlsSent());
    QObject::connect(m_session.get(), &NetworkSession::lineChanged, &m_context, [this] { handleLineChange(); });
    // Queued, as a line change is: the handler may write again or close.
    QObject::connect(m_session.get(), &NetworkSession::writesConfirmed, &m_context, [this] {
        // A copy: the handler may close this port, and with it the original.
        if (const std::function<void()> handler = m_writesConfirmedHandler)
            handler();
    }, Qt::QueuedConnection);
    m_session->setHeartbeat(m_heartbeatOn);
    // DTR set in the negotiation is driven like any later write of it: the
    // release at the end drops it too.
    if (m_dtrAtOpen)
        m_session->noteDtrDriven();
    m_failure = Failure::None;
    m_errorString.clear();
    complete(true);
}

bool NetworkSerialPort::failOpen(const QString &reason)
{
    m_failure = Failure::OpenFailed;
    m_errorString = QStringLiteral("%1: %2").arg(m_text, reason);
    complete(false);
    return false;
}

void NetworkSerialPort::complete(bool opened)
{
    if (!m_done)
        return;
    // Posted, so that it never runs inside a call into this port nor inside
    // the socket's own signal; dropped if the port is closed or gone first.
    const quint64 attempt = m_attempt;
    QMetaObject::invokeMethod(
        &m_context,
        [this, attempt, opened, done = std::exchange(m_done, {})] {
            if (attempt == m_attempt)
                done(opened);
        },
        Qt::QueuedConnection);
}

void NetworkSerialPort::close()
{
    ++m_attempt;
    m_done = {};
    m_connector.reset();
    if (m_session) {
        // The releases are written now; the goodbye to the server happens
        // on the event loop, away from whoever is closing.
        m_closing->adopt(m_session->release());
        m_session.reset();
    }
}

void NetworkSerialPort::handleLineChange()
{
    if (m_session && m_session->isLost())
        fail(Failure::DeviceLost, m_session->lostReason());
    if (!m_lineChangeHandler || m_lineChangePosted)
        return;
    m_lineChangePosted = true;
    // Not from inside the session: the handler may close the port.
    const quint64 attempt = m_attempt;
    QMetaObject::invokeMethod(
        &m_context,
        [this, attempt] {
            m_lineChangePosted = false;
            if (attempt == m_attempt && m_lineChangeHandler)
                m_lineChangeHandler();
        },
        Qt::QueuedConnection);
}

bool NetworkSerialPort::checkOpen()
{
    if (!m_session)
        return fail(Failure::Other, QStringLiteral("port is not open"));
    m_session->poll();
    if (m_session->isLost())
        return fail(Failure::DeviceLost, m_session->lostReason());
    return true;
}

bool NetworkSerialPort::setRts(bool on)
{
    if (!checkOpen())
        return false;
    if (!m_session->setRts(on))
        return fail(Failure::DeviceLost, m_session->lostReason());
    return true;
}

bool NetworkSerialPort::setDtr(bool on)
{
    if (!checkOpen())
        return false;
    if (!m_session->setDtr(on))
        return fail(Failure::DeviceLost, m_session->lostReason());
    return true;
}

bool NetworkSerialPort::readLine(InputLine line, bool *asserted)
{
    if (!checkOpen())
        return false;
    // In the order of InputLine: CTS, DSR, DCD, RI.
    static constexpr quint8 bitOf[] = {P::ModemStateCts, P::ModemStateDsr, P::ModemStateDcd, P::ModemStateRi};
    *asserted = m_session->modemState().value_or(0) & bitOf[int(line)];
    return true;
}

void NetworkSerialPort::setHeartbeat(bool on)
{
    m_heartbeatOn = on;
    if (m_session)
        m_session->setHeartbeat(on);
}

SerialPortDevice::CrashRelease NetworkSerialPort::crashRelease() const
{
    CrashRelease release;
    release.descriptor = m_session ? m_session->socketDescriptor() : -1;
    if (release.descriptor < 0)
        return {};
    if (isTls()) {
        // Bytes in the clear would break the TLS stream; a closed connection
        // is what lowers the lines of a server that resets them on close.
        release.kind = CrashRelease::Kind::SocketShutdown;
    } else {
        release.kind = CrashRelease::Kind::SocketBytes;
        release.bytes = P::comPortCommand(P::SetControl, P::ControlRtsOff)
            + P::comPortCommand(P::SetControl, P::ControlDtrOff);
    }
    return release;
}

bool NetworkSerialPort::fail(Failure failure, const QString &reason)
{
    m_failure = failure;
    m_errorString = QStringLiteral("%1: %2").arg(m_text, reason);
    return false;
}
