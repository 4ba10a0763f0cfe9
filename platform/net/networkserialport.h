#pragma once

#include "platform/net/networkaddress.h"
#include "platform/net/networkconnector.h"
#include "platform/net/networksession.h"
#include "platform/net/tlssetup.h"
#include "platform/serial/serialportdevice.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>

class ClosingConnections;

// A port on a network serial device server, reached directly over Telnet
// with the Com Port Control option (RFC 2217). Addressed as
// rfc2217://HOST:PORT, or rfc2217://[IPv6]:PORT; rfc2217+tls://HOST:PORT
// speaks the same inside TLS (1.2 or later, server certificate verified
// against the host of the address, optionally with a client certificate).
//
// The work is done by a NetworkConnector while opening and a NetworkSession
// once open; this class puts them behind SerialPortDevice. Every call runs
// on the owner's thread and returns promptly. open() is bounded by
// OpenTimeoutMs, host-name lookup included, and waits on the socket rather
// than in a nested event loop (which would let activation and poll ticks run
// inside it); openInBackground() never waits. close() writes the line
// releases and leaves the goodbye to ClosingConnections, so it never waits.
class NetworkSerialPort : public SerialPortDevice
{
public:
    static constexpr int OpenTimeoutMs = NetworkConnector::OpenTimeoutMs;
    static constexpr int HeartbeatIntervalMs = NetworkSession::HeartbeatIntervalMs;

    using TlsFiles = ::TlsFiles;
    // Turns a host name into addresses, blocking; run on a worker thread.
    using HostResolver = std::function<QList<QHostAddress>(const QString &host)>;

    // Closed connections go to `closing`, which must outlive the port;
    // without one the port keeps its own, which lasts only as long as it.
    explicit NetworkSerialPort(const QString &address, const TlsFiles &tls = {}, ClosingConnections *closing = nullptr);
    ~NetworkSerialPort() override;

    NetworkSerialPort(const NetworkSerialPort &) = delete;
    NetworkSerialPort &operator=(const NetworkSerialPort &) = delete;

    using SerialPortDevice::open;
    using SerialPortDevice::openInBackground;
    bool open(const OpenLevels &levels) override;
    void openInBackground(const OpenLevels &levels, std::function<void(bool opened)> done) override;
    void close() override;
    bool setRts(bool on) override;
    bool setDtr(bool on) override;
    bool readLine(InputLine line, bool *asserted) override;

    // An open port reads the server's notifications as they arrive; the
    // handler also runs when the connection is lost, so that the next read
    // reports it.
    bool reportsLineChanges() const override { return m_session && !m_session->isLost(); }
    void setLineChangeHandler(std::function<void()> handler) override { m_lineChangeHandler = std::move(handler); }

    // The server answers every RTS and DTR command: a write is done when
    // that answer is in, not when it left.
    bool confirmsWritesLater() const override { return true; }
    void setWritesConfirmedHandler(std::function<void()> handler) override
    {
        m_writesConfirmedHandler = std::move(handler);
    }

    // While open, sends one NUL data byte every HeartbeatIntervalMs.
    void setHeartbeat(bool on) override;
    bool heartbeat() const { return m_heartbeatOn; }

    CrashRelease crashRelease() const override;

    Failure failure() const override { return m_failure; }
    QString errorString() const override { return m_errorString; }

    // Subject, issuer and SHA-256 fingerprint of the server's certificate,
    // once a TLS port has opened; empty otherwise.
    QString peerCertificateSummary() const override { return m_peerCertificateSummary; }

    QString address() const { return m_text; }
    bool isAddressValid() const { return m_address.isValid(); }
    bool isTls() const { return m_address.isTls(); }
    QString host() const { return m_address.host(); }
    quint16 port() const { return m_address.port(); }

    // Runs `resolver` for `host` on a thread of its own and waits for it at
    // most until `deadline`: nullopt if it has not finished by then. An
    // abandoned lookup runs to its end and its answer is dropped.
    static std::optional<QList<QHostAddress>> lookUpWithin(const QString &host, const QDeadlineTimer &deadline,
                                                           const HostResolver &resolver = systemResolver());
    static HostResolver systemResolver();

private:
    bool startConnector();
    void handleConnected();
    bool failOpen(const QString &reason);
    void complete(bool opened);
    void handleLineChange();
    bool checkOpen();
    bool fail(Failure failure, const QString &reason);

    QString m_text;
    NetworkAddress m_address;
    TlsFiles m_tlsFiles;
    std::unique_ptr<ClosingConnections> m_ownClosing;
    ClosingConnections *m_closing = nullptr;

    std::unique_ptr<NetworkConnector> m_connector;
    std::unique_ptr<NetworkSession> m_session;
    // Bumped by every open and close: posted calls of an earlier one are stale.
    quint64 m_attempt = 0;
    bool m_lineChangePosted = false;
    std::function<void(bool)> m_done;
    std::function<void()> m_lineChangeHandler;
    std::function<void()> m_writesConfirmedHandler;
    bool m_heartbeatOn = false;
    // Whether the open under way sets DTR, so that the session releases it.
    bool m_dtrAtOpen = false;
    QString m_peerCertificateSummary;
    Failure m_failure = Failure::None;
    QString m_errorString;

    // Receiver of the connector's and session's signals and of posted calls;
    // declared last so that it goes first, taking them all with it.
    QObject m_context;
};
