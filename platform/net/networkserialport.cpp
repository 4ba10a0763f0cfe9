#include "platform/net/networkserialport.h"

#include <QFile>
#include <QHostInfo>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QSslKey>
#include <QSslSocket>
#include <QUrl>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#ifdef Q_OS_UNIX
#include <netdb.h>
#include <sys/stat.h>
#endif
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

using P = TelnetComPortProtocol;

QByteArray control(quint8 value)
{
    return P::comPortCommand(P::SetControl, value);
}

QString certificateNames(const QSslCertificate &certificate)
{
    QStringList names = certificate.subjectInfo(QSslCertificate::CommonName);
    const auto alternatives = certificate.subjectAlternativeNames();
    for (auto it = alternatives.cbegin(); it != alternatives.cend(); ++it) {
        if (!names.contains(it.value()))
            names.append(it.value());
    }
    return names.join(QLatin1String(", "));
}
}

NetworkSerialPort::NetworkSerialPort(const QString &address, const TlsFiles &tls)
    : m_address(address)
    , m_tlsFiles(tls)
{
    parseAddress();
    if (m_tls) {
        auto ssl = std::make_unique<QSslSocket>();
        m_sslSocket = ssl.get();
        m_socket = std::move(ssl);
        QObject::connect(m_sslSocket, &QSslSocket::encrypted, &m_context, [this] { handleEncrypted(); });
        QObject::connect(m_sslSocket, &QSslSocket::sslErrors, &m_context,
                         [this](const QList<QSslError> &errors) { handleSslErrors(errors); });
    } else {
        m_socket = std::make_unique<QTcpSocket>();
    }
    // Bounded, so a flood waits in the server's send queue, not in our memory.
    m_socket->setReadBufferSize(ReadBufferSize);
    QObject::connect(m_socket.get(), &QAbstractSocket::connected, &m_context, [this] { handleConnected(); });
    QObject::connect(m_socket.get(), &QIODevice::readyRead, &m_context, [this] { step(); });
    QObject::connect(m_socket.get(), &QAbstractSocket::errorOccurred, &m_context, [this] { handleError(); });
    QObject::connect(m_socket.get(), &QAbstractSocket::disconnected, &m_context, [this] { handleError(); });

    m_deadlineTimer.setSingleShot(true);
    QObject::connect(&m_deadlineTimer, &QTimer::timeout, &m_context, [this] {
        if (isOpening())
            failOpen(timeoutReason());
    });
    m_heartbeatTimer.setInterval(HeartbeatIntervalMs);
    QObject::connect(&m_heartbeatTimer, &QTimer::timeout, &m_context, [this] { sendHeartbeat(); });
}

NetworkSerialPort::~NetworkSerialPort()
{
    close();
}

bool NetworkSerialPort::isNetworkAddress(const QString &location)
{
    return location.startsWith(QLatin1String("rfc2217:"), Qt::CaseInsensitive)
        || location.startsWith(QLatin1String("rfc2217+tls:"), Qt::CaseInsensitive);
}

void NetworkSerialPort::parseAddress()
{
    const QUrl url(m_address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("rfc2217") && scheme != QLatin1String("rfc2217+tls"))
        || url.host().isEmpty() || url.port() < 1 || url.port() > 65535 || !url.userInfo().isEmpty()
        || url.hasQuery() || url.hasFragment() || !(url.path().isEmpty() || url.path() == QLatin1String("/")))
        return;
    m_tls = scheme == QLatin1String("rfc2217+tls");
    m_host = url.host();
    m_port = quint16(url.port());
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

bool NetworkSerialPort::isOpening() const
{
    switch (m_phase) {
    case Phase::LookingUp:
    case Phase::Connecting:
    case Phase::Encrypting:
    case Phase::Negotiating:
    case Phase::Settling:
        return true;
    case Phase::Closed:
    case Phase::Open:
    case Phase::Lost:
        return false;
    }
    return false;
}

bool NetworkSerialPort::open(bool rts)
{
    close();
    if (!isAddressValid())
        return failOpen(QStringLiteral("not a valid address, expected rfc2217://HOST:PORT or rfc2217+tls://HOST:PORT"));
    QString reason;
    if (m_tls && !prepareTls(&reason))
        return failOpen(reason);
    begin(rts);
    const QDeadlineTimer deadline(OpenTimeoutMs);

    QHostAddress literal;
    if (literal.setAddress(m_host)) {
        connectToAddresses({literal});
    } else {
        const std::optional<QList<QHostAddress>> addresses = lookUpWithin(m_host, deadline);
        if (!addresses)
            return failOpen(timeoutReason());
        connectToAddresses(*addresses);
    }

    // Each wait emits the socket's signals, whose handlers move the open on
    // exactly as the event loop would for openInBackground().
    while (isOpening()) {
        if (m_retryPending)
            connectNext();
        const int remaining = int(deadline.remainingTime());
        if (remaining <= 0) {
            failOpen(timeoutReason());
            break;
        }
        bool progressed = false;
        switch (m_phase) {
        case Phase::Connecting:
            progressed = m_socket->waitForConnected(remaining);
            break;
        case Phase::Encrypting:
            progressed = m_sslSocket->waitForEncrypted(remaining);
            break;
        default:
            progressed = m_socket->waitForReadyRead(remaining);
            break;
        }
        // A refusal may show only in the socket's state.
        if (!progressed && isOpening() && !m_retryPending && m_socket->state() == QAbstractSocket::UnconnectedState)
            handleError();
    }
    return m_phase == Phase::Open;
}

void NetworkSerialPort::openInBackground(bool rts, std::function<void(bool opened)> done)
{
    close();
    m_done = std::move(done);
    if (!isAddressValid()) {
        failOpen(QStringLiteral("not a valid address, expected rfc2217://HOST:PORT or rfc2217+tls://HOST:PORT"));
        return;
    }
    QString reason;
    if (m_tls && !prepareTls(&reason)) {
        failOpen(reason);
        return;
    }
    begin(rts);
    m_deadlineTimer.start(OpenTimeoutMs);
    QHostAddress literal;
    if (literal.setAddress(m_host)) {
        connectToAddresses({literal});
        return;
    }
    const quint64 attempt = m_attempt;
    m_lookupId = QHostInfo::lookupHost(m_host, &m_context, [this, attempt](const QHostInfo &info) {
        if (attempt != m_attempt || m_phase != Phase::LookingUp)
            return;
        m_lookupId = -1;
        if (info.error() != QHostInfo::NoError) {
            failOpen(QStringLiteral("cannot find %1 (%2)").arg(m_host, info.errorString()));
            return;
        }
        connectToAddresses(info.addresses());
    });
}

void NetworkSerialPort::begin(bool rts)
{
    m_protocol = TelnetComPortProtocol();
    m_rtsAtOpen = rts;
    m_phase = Phase::LookingUp;
    m_addresses.clear();
    m_nextAddress = 0;
    m_retryPending = false;
    m_tlsReason.clear();
    m_peerCertificateSummary.clear();
    m_lineChangePosted = false;
    m_dtrDriven = false;
}

void NetworkSerialPort::connectToAddresses(const QList<QHostAddress> &addresses)
{
    if (addresses.isEmpty()) {
        failOpen(QStringLiteral("cannot find %1").arg(m_host));
        return;
    }
    m_addresses = addresses;
    m_nextAddress = 0;
    m_phase = Phase::Connecting;
    connectNext();
}

void NetworkSerialPort::connectNext()
{
    m_retryPending = false;
    if (m_phase != Phase::Connecting)
        return;
    m_socket->abort();
    const QHostAddress address = m_addresses.value(m_nextAddress++);
    if (m_sslSocket) {
        // Connect to the address looked up, verify the name in the address.
        m_sslSocket->connectToHostEncrypted(address.toString(), m_port, m_host);
    } else {
        m_socket->connectToHost(address, m_port);
    }
}

void NetworkSerialPort::handleConnected()
{
    if (m_phase != Phase::Connecting)
        return;
    configureLink();
    if (m_sslSocket) {
        m_phase = Phase::Encrypting;
        return;
    }
    startNegotiation();
}

void NetworkSerialPort::handleEncrypted()
{
    if (m_phase != Phase::Encrypting)
        return;
    const QSslCertificate peer = m_sslSocket->peerCertificate();
    m_peerCertificateSummary = QStringLiteral("subject: %1; issuer: %2; SHA-256: %3")
                                   .arg(peer.subjectDisplayName(), peer.issuerDisplayName(),
                                        QString::fromLatin1(peer.digest(QCryptographicHash::Sha256).toHex(':').toUpper()));
    startNegotiation();
}

void NetworkSerialPort::startNegotiation()
{
    m_phase = Phase::Negotiating;
    m_protocol.requestComPortControl();
    if (!sendPending()) {
        failOpen(lostReason());
        return;
    }
    step();
}

void NetworkSerialPort::step()
{
    if (m_draining || !(m_phase == Phase::Negotiating || m_phase == Phase::Settling || m_phase == Phase::Open))
        return;
    drain();
    switch (m_phase) {
    case Phase::Negotiating:
        if (m_protocol.comPortRefused()) {
            failOpen(QStringLiteral("the server refuses com port control (RFC 2217)"));
        } else if (m_protocol.comPortAccepted()) {
            sendLineSettings();
            checkLineSettings();
        }
        break;
    case Phase::Settling:
        checkLineSettings();
        break;
    case Phase::Open:
        if (m_protocol.inputChangeCount() != m_seenInputChanges) {
            m_seenInputChanges = m_protocol.inputChangeCount();
            postLineChange();
        }
        break;
    default:
        break;
    }
}

void NetworkSerialPort::sendLineSettings()
{
    m_phase = Phase::Settling;
    m_protocol.clearReplies();
    const char baud[] = {0, 0, char(0x25), char(0x80)}; // 9600, network byte order
    QByteArray settings = P::comPortCommand(P::SetBaudRate, QByteArrayView(baud, 4));
    settings += P::comPortCommand(P::SetDataSize, quint8(8));
    settings += P::comPortCommand(P::SetParity, P::ParityNone);
    settings += P::comPortCommand(P::SetStopSize, P::StopSizeOne);
    settings += control(P::ControlNoFlowControl);
    settings += P::comPortCommand(P::SetModemStateMask, quint8(P::ModemStateInputs | P::ModemStateDeltas));
    // Some servers raise RTS as a client connects: say what it must be.
    settings += control(m_rtsAtOpen ? P::ControlRtsOn : P::ControlRtsOff);
    if (!sendBytes(settings))
        failOpen(lostReason());
}

void NetworkSerialPort::checkLineSettings()
{
    if (m_phase != Phase::Settling)
        return;
    // The server answers each line setting with what it now uses. The answer
    // to RTS is not awaited: some servers never send one.
    const P::Replies &r = m_protocol.replies();
    if (!(r.baudRate && r.dataSize && r.parity && r.stopSize && r.flowControl))
        return;
    if (*r.baudRate != 9600 || *r.dataSize != 8 || *r.parity != P::ParityNone || *r.stopSize != P::StopSizeOne
        || *r.flowControl != P::ControlNoFlowControl) {
        failOpen(QStringLiteral("the server cannot set 9600 8N1 without flow control "
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

void NetworkSerialPort::succeed()
{
    m_deadlineTimer.stop();
    m_phase = Phase::Open;
    m_seenInputChanges = m_protocol.inputChangeCount();
    m_failure = Failure::None;
    m_errorString.clear();
    updateHeartbeat();
    complete(true);
}

bool NetworkSerialPort::failOpen(const QString &reason)
{
    m_deadlineTimer.stop();
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    m_phase = Phase::Closed;
    m_retryPending = false;
    m_socket->abort();
    m_failure = Failure::OpenFailed;
    m_errorString = QStringLiteral("%1: %2").arg(m_address, reason);
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

void NetworkSerialPort::handleError()
{
    // A wait that ran out, our own polling included, is no fault of the link.
    if (m_socket->error() == QAbstractSocket::SocketTimeoutError
        && m_socket->state() != QAbstractSocket::UnconnectedState)
        return;
    if (m_phase == Phase::Open) {
        markLost(lostReason());
        return;
    }
    if (!isOpening() || m_retryPending)
        return;
    if (m_phase == Phase::Connecting && m_nextAddress < m_addresses.size()) {
        // Another address of the name may answer; not from inside the
        // socket's own error signal.
        m_retryPending = true;
        const quint64 attempt = m_attempt;
        QMetaObject::invokeMethod(
            &m_context,
            [this, attempt] {
                if (attempt == m_attempt && m_retryPending)
                    connectNext();
            },
            Qt::QueuedConnection);
        return;
    }
    failOpen(socketReason());
}

void NetworkSerialPort::handleSslErrors(const QList<QSslError> &errors)
{
    // Never ignored: the handshake fails after this, with this reason.
    QStringList reasons;
    for (const QSslError &error : errors) {
        QString reason;
        switch (error.error()) {
        case QSslError::CertificateExpired:
            reason = QStringLiteral("the server's certificate has expired (%1)")
                         .arg(error.certificate().expiryDate().toString(Qt::ISODate));
            break;
        case QSslError::CertificateNotYetValid:
            reason = QStringLiteral("the server's certificate is not valid yet (from %1)")
                         .arg(error.certificate().effectiveDate().toString(Qt::ISODate));
            break;
        case QSslError::HostNameMismatch:
            reason = QStringLiteral("the server's certificate is for %1, not for %2")
                         .arg(certificateNames(error.certificate()), m_host);
            break;
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::CertificateUntrusted:
            reason = m_tlsFiles.caFile.isEmpty()
                ? QStringLiteral("the server's certificate is not signed by a CA this system trusts")
                : QStringLiteral("the server's certificate is not signed by a CA of %1").arg(m_tlsFiles.caFile);
            break;
        default:
            reason = QStringLiteral("the server's certificate is refused: %1").arg(error.errorString());
            break;
        }
        if (!reasons.contains(reason))
            reasons.append(reason);
    }
    m_tlsReason = reasons.join(QLatin1String("; "));
}

QString NetworkSerialPort::socketReason() const
{
    if (!m_tlsReason.isEmpty())
        return m_tlsReason;
    const QString error = m_socket->errorString();
    if (m_sslSocket && (m_phase == Phase::Encrypting || m_phase == Phase::Negotiating)) {
        // TLS 1.3 lets the server judge our certificate after our side of the
        // handshake is done: its verdict comes as the first read.
        if (error.contains(QLatin1String("certificate required"), Qt::CaseInsensitive))
            return QStringLiteral("the server demands a client certificate (Cert-File and Key-File in [Tls])");
        if (error.contains(QLatin1String("unknown ca"), Qt::CaseInsensitive)
            || error.contains(QLatin1String("bad certificate"), Qt::CaseInsensitive)
            || error.contains(QLatin1String("certificate unknown"), Qt::CaseInsensitive))
            return QStringLiteral("the server refuses our client certificate (%1)").arg(error);
        if (m_socket->error() != QAbstractSocket::RemoteHostClosedError)
            return QStringLiteral("TLS failed (%1)").arg(error);
        // Some servers (ser2net) just close the connection on a client
        // certificate they do not like, or on none.
        if (m_tlsFiles.certFile.isEmpty())
            return QStringLiteral("the server closed the TLS connection at once: it probably demands a client "
                                  "certificate (Cert-File and Key-File in [Tls]) (%1)")
                .arg(error);
        return QStringLiteral("the server closed the TLS connection at once: it probably refuses our client "
                              "certificate %1 (%2)")
            .arg(m_tlsFiles.certFile, error);
    }
    if (m_phase == Phase::Negotiating || m_phase == Phase::Settling)
        return lostReason();
    return error;
}

bool NetworkSerialPort::prepareTls(QString *reason)
{
    if (!QSslSocket::supportsSsl()) {
        *reason = QStringLiteral("this system offers no TLS (no OpenSSL for Qt)");
        return false;
    }
    if (m_tlsFiles.certFile.isEmpty() != m_tlsFiles.keyFile.isEmpty()) {
        *reason = QStringLiteral("Cert-File and Key-File in [Tls] go together: set both or neither");
        return false;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);

    const auto readFile = [reason](const QString &path, const QString &what, QByteArray *contents) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            *reason = QStringLiteral("cannot read the %1 %2 (%3)").arg(what, path, file.errorString());
            return false;
        }
        *contents = file.readAll();
        return true;
    };

    if (!m_tlsFiles.caFile.isEmpty()) {
        QByteArray pem;
        if (!readFile(m_tlsFiles.caFile, QStringLiteral("Ca-File"), &pem))
            return false;
        const QList<QSslCertificate> authorities = QSslCertificate::fromData(pem, QSsl::Pem);
        if (authorities.isEmpty()) {
            *reason = QStringLiteral("the Ca-File %1 holds no PEM certificate").arg(m_tlsFiles.caFile);
            return false;
        }
        configuration.setCaCertificates(authorities);
    }

    if (!m_tlsFiles.certFile.isEmpty()) {
#ifdef Q_OS_UNIX
        // As ssh does: a key that others can read is no secret any more.
        struct stat status{};
        if (::stat(QFile::encodeName(m_tlsFiles.keyFile).constData(), &status) == 0 && (status.st_mode & 077) != 0) {
            *reason = QStringLiteral("the Key-File %1 can be read by others than its owner (chmod 600 it)")
                          .arg(m_tlsFiles.keyFile);
            return false;
        }
#endif
        QByteArray certificatePem;
        QByteArray keyPem;
        if (!readFile(m_tlsFiles.certFile, QStringLiteral("Cert-File"), &certificatePem)
            || !readFile(m_tlsFiles.keyFile, QStringLiteral("Key-File"), &keyPem))
            return false;
        const QList<QSslCertificate> chain = QSslCertificate::fromData(certificatePem, QSsl::Pem);
        if (chain.isEmpty()) {
            *reason = QStringLiteral("the Cert-File %1 holds no PEM certificate").arg(m_tlsFiles.certFile);
            return false;
        }
        QSslKey key;
        for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
            key = QSslKey(keyPem, algorithm, QSsl::Pem, QSsl::PrivateKey);
            if (!key.isNull())
                break;
        }
        if (key.isNull()) {
            *reason = QStringLiteral("the Key-File %1 holds no unencrypted RSA, EC or DSA private key in PEM")
                          .arg(m_tlsFiles.keyFile);
            return false;
        }
        configuration.setLocalCertificateChain(chain);
        configuration.setPrivateKey(key);
    }
    m_sslSocket->setSslConfiguration(configuration);
    return true;
}

void NetworkSerialPort::close()
{
    ++m_attempt;
    m_done = {};
    m_deadlineTimer.stop();
    m_heartbeatTimer.stop();
    m_retryPending = false;
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    const bool wasOpen = m_phase == Phase::Open;
    m_phase = Phase::Closed;
    if (wasOpen && m_socket->state() == QAbstractSocket::ConnectedState) {
        // Leave the remote transmitter released, not keyed by a dead client,
        // whichever line keys it.
        QByteArray release = control(P::ControlRtsOff);
        if (m_dtrDriven)
            release += control(P::ControlDtrOff);
        m_socket->write(release);
        m_socket->flush();
        if (m_socket->bytesToWrite() > 0)
            m_socket->waitForBytesWritten(CloseFlushMs);
        m_socket->disconnectFromHost();
        if (m_socket->state() != QAbstractSocket::UnconnectedState)
            m_socket->waitForDisconnected(CloseFlushMs);
    }
    m_socket->abort();
    m_socket->close();
}

bool NetworkSerialPort::checkOpen()
{
    if (m_phase == Phase::Open)
        step();
    if (m_phase == Phase::Lost)
        return fail(Failure::DeviceLost, m_lostReason);
    if (m_phase != Phase::Open)
        return fail(Failure::Other, QStringLiteral("port is not open"));
    return true;
}

bool NetworkSerialPort::setRts(bool on)
{
    if (!checkOpen())
        return false;
    if (!sendBytes(control(on ? P::ControlRtsOn : P::ControlRtsOff))) {
        markLost(lostReason());
        return fail(Failure::DeviceLost, m_lostReason);
    }
    return true;
}

bool NetworkSerialPort::setDtr(bool on)
{
    if (!checkOpen())
        return false;
    m_dtrDriven = true;
    if (!sendBytes(control(on ? P::ControlDtrOn : P::ControlDtrOff))) {
        markLost(lostReason());
        return fail(Failure::DeviceLost, m_lostReason);
    }
    return true;
}

bool NetworkSerialPort::readLine(InputLine line, bool *asserted)
{
    if (!checkOpen())
        return false;
    // In the order of InputLine: CTS, DSR, DCD, RI.
    static constexpr quint8 bitOf[] = {P::ModemStateCts, P::ModemStateDsr, P::ModemStateDcd, P::ModemStateRi};
    *asserted = m_protocol.modemState().value_or(0) & bitOf[int(line)];
    return true;
}

void NetworkSerialPort::markLost(const QString &reason)
{
    if (m_phase != Phase::Open)
        return;
    m_phase = Phase::Lost;
    m_lostReason = reason;
    m_heartbeatTimer.stop();
    fail(Failure::DeviceLost, reason);
    postLineChange();
}

void NetworkSerialPort::postLineChange()
{
    if (!m_lineChangeHandler || m_lineChangePosted)
        return;
    m_lineChangePosted = true;
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

void NetworkSerialPort::setHeartbeat(bool on)
{
    m_heartbeatOn = on;
    updateHeartbeat();
}

void NetworkSerialPort::updateHeartbeat()
{
    if (m_heartbeatOn && m_phase == Phase::Open)
        m_heartbeatTimer.start();
    else
        m_heartbeatTimer.stop();
}

void NetworkSerialPort::sendHeartbeat()
{
    if (m_phase != Phase::Open)
        return;
    // A data byte, which a device server counts as activity where it does
    // not count Telnet commands; NUL is the byte devices on the line ignore.
    if (!sendBytes(QByteArray(1, '\0')))
        markLost(lostReason());
}

SerialPortDevice::CrashRelease NetworkSerialPort::crashRelease() const
{
    CrashRelease release;
    if (m_phase != Phase::Open)
        return release;
    release.descriptor = int(m_socket->socketDescriptor());
    if (release.descriptor < 0)
        return {};
    if (m_tls) {
        // Bytes in the clear would break the TLS stream; a closed connection
        // is what lowers the lines of a server that resets them on close.
        release.kind = CrashRelease::Kind::SocketShutdown;
    } else {
        release.kind = CrashRelease::Kind::SocketBytes;
        release.bytes = control(P::ControlRtsOff) + control(P::ControlDtrOff);
    }
    return release;
}

bool NetworkSerialPort::fail(Failure failure, const QString &reason)
{
    m_failure = failure;
    m_errorString = QStringLiteral("%1: %2").arg(m_address, reason);
    return false;
}

QString NetworkSerialPort::timeoutReason() const
{
    switch (m_phase) {
    case Phase::LookingUp:
        return QStringLiteral("cannot find %1 within %2 ms").arg(m_host).arg(OpenTimeoutMs);
    case Phase::Connecting:
        return QStringLiteral("no connection within %1 ms").arg(OpenTimeoutMs);
    case Phase::Encrypting:
        return QStringLiteral("no TLS handshake within %1 ms").arg(OpenTimeoutMs);
    case Phase::Negotiating:
        return QStringLiteral("the server did not take up com port control within %1 ms").arg(OpenTimeoutMs);
    default:
        return QStringLiteral("the server did not confirm the line settings within %1 ms").arg(OpenTimeoutMs);
    }
}

QString NetworkSerialPort::lostReason() const
{
    return QStringLiteral("connection to the device server lost (%1)").arg(m_socket->errorString());
}

void NetworkSerialPort::configureLink()
{
    // Each RTS change is one small write that should leave at once.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    const int fd = int(m_socket->socketDescriptor());
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
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        return false;
    if (m_socket->write(bytes) != bytes.size())
        return false;
    // Hand it to the kernel now rather than at the next turn of the event
    // loop; flush() does not block.
    m_socket->flush();
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

bool NetworkSerialPort::sendPending()
{
    const QByteArray answers = m_protocol.takeOutgoing();
    return answers.isEmpty() || sendBytes(answers);
}

void NetworkSerialPort::drain()
{
    m_draining = true;
    for (int chunk = 0; chunk < MaxChunksPerDrain; ++chunk) {
        if (m_socket->bytesAvailable() <= 0) {
            // waitForReadyRead(0) polls the socket once without blocking; it
            // is also how a closed or reset connection shows up when no event
            // loop has run since.
            if (m_socket->state() != QAbstractSocket::ConnectedState || !m_socket->waitForReadyRead(0))
                break;
        }
        m_protocol.receive(m_socket->read(ReadChunk));
        if (!sendPending())
            break;
    }
    m_draining = false;
}
