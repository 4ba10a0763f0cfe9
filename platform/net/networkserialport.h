#pragma once

#include "platform/serial/serialportdevice.h"
#include "platform/net/telnetcomportprotocol.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QSslSocket;
class QSslError;

// A port on a network serial device server, reached directly over Telnet
// with the Com Port Control option (RFC 2217). Addressed as
// rfc2217://HOST:PORT, or rfc2217://[IPv6]:PORT; rfc2217+tls://HOST:PORT
// speaks the same inside TLS (1.2 or later, server certificate verified
// against the host of the address, optionally with a client certificate).
//
// Every call runs on the owner's thread and returns promptly. open() is
// bounded by OpenTimeoutMs, host-name lookup included, and waits on the
// socket rather than in a nested event loop (which would let activation and
// poll ticks run inside it); openInBackground() does the same work driven by
// the socket's signals and never waits. Once open, whatever the server sends
// is read as it arrives, so a line change or a lost connection is known at
// once; setRts() and readLine() never wait for the server.
class NetworkSerialPort : public SerialPortDevice
{
public:
    static constexpr int OpenTimeoutMs = 2000;
    static constexpr int CloseFlushMs = 300;
    // Often enough for a device server that drops a client after a second
    // without data (ser2net's connection timeout counts only data bytes).
    static constexpr int HeartbeatIntervalMs = 500;
    // A healthy server is silent while the lines stand still, so silence
    // tells nothing: TCP keepalive probes find a dead link within
    // KeepAliveIdleS + KeepAliveIntervalS * KeepAliveCount seconds, and
    // unacknowledged writes give up after UserTimeoutMs.
    static constexpr int KeepAliveIdleS = 1;
    static constexpr int KeepAliveIntervalS = 1;
    static constexpr int KeepAliveCount = 3;
    static constexpr int UserTimeoutMs = 4000;

    // The files of the settings group "Tls", shared by every TLS port.
    struct TlsFiles
    {
        QString caFile;   // CAs that may sign the server's certificate; empty: the system's
        QString certFile; // client certificate, PEM; with keyFile or not at all
        QString keyFile;  // its unencrypted private key, PEM, readable by its owner only
    };

    // Turns a host name into addresses, blocking; run on a worker thread.
    using HostResolver = std::function<QList<QHostAddress>(const QString &host)>;

    explicit NetworkSerialPort(const QString &address, const TlsFiles &tls = {});
    ~NetworkSerialPort() override;

    NetworkSerialPort(const NetworkSerialPort &) = delete;
    NetworkSerialPort &operator=(const NetworkSerialPort &) = delete;

    bool open(bool rts) override;
    void openInBackground(bool rts, std::function<void(bool opened)> done) override;
    void close() override;
    bool setRts(bool on) override;
    bool setDtr(bool on) override;
    bool readLine(InputLine line, bool *asserted) override;

    // An open port reads the server's notifications as they arrive; the
    // handler also runs when the connection is lost, so that the next read
    // reports it.
    bool reportsLineChanges() const override { return m_phase == Phase::Open; }
    void setLineChangeHandler(std::function<void()> handler) override { m_lineChangeHandler = std::move(handler); }

    // While open, sends one NUL data byte every HeartbeatIntervalMs.
    void setHeartbeat(bool on) override;
    bool heartbeat() const { return m_heartbeatOn; }

    CrashRelease crashRelease() const override;

    Failure failure() const override { return m_failure; }
    QString errorString() const override { return m_errorString; }

    // Subject, issuer and SHA-256 fingerprint of the server's certificate,
    // once a TLS port has opened; empty otherwise.
    QString peerCertificateSummary() const override { return m_peerCertificateSummary; }

    QString address() const { return m_address; }
    bool isAddressValid() const { return m_port != 0; }
    bool isTls() const { return m_tls; }
    QString host() const { return m_host; }
    quint16 port() const { return m_port; }

    // Whether a settings value names a network port rather than a device.
    static bool isNetworkAddress(const QString &location);

    // Runs `resolver` for `host` on a thread of its own and waits for it at
    // most until `deadline`: nullopt if it has not finished by then. An
    // abandoned lookup runs to its end and its answer is dropped.
    static std::optional<QList<QHostAddress>> lookUpWithin(const QString &host, const QDeadlineTimer &deadline,
                                                           const HostResolver &resolver = systemResolver());
    static HostResolver systemResolver();

private:
    enum class Phase { Closed, LookingUp, Connecting, Encrypting, Negotiating, Settling, Open, Lost };

    void parseAddress();
    bool isOpening() const;
    bool prepareTls(QString *reason);
    void begin(bool rts);
    void connectToAddresses(const QList<QHostAddress> &addresses);
    void connectNext();
    void handleConnected();
    void handleEncrypted();
    void handleError();
    void handleSslErrors(const QList<QSslError> &errors);
    void startNegotiation();
    // Reads what the server sent and moves the open (or the open port) on.
    void step();
    void sendLineSettings();
    void checkLineSettings();
    void succeed();
    bool failOpen(const QString &reason);
    void complete(bool opened);
    void markLost(const QString &reason);
    void postLineChange();
    void sendHeartbeat();
    void updateHeartbeat();
    bool fail(Failure failure, const QString &reason);
    bool checkOpen();
    void configureLink();
    bool sendBytes(const QByteArray &bytes);
    bool sendPending();
    // Reads and handles whatever the server has sent, without waiting.
    void drain();
    QString timeoutReason() const;
    QString socketReason() const;
    QString lostReason() const;

    QString m_address;
    QString m_host;
    quint16 m_port = 0;
    bool m_tls = false;
    TlsFiles m_tlsFiles;

    std::unique_ptr<QTcpSocket> m_socket;
    QSslSocket *m_sslSocket = nullptr; // m_socket, when it is one
    TelnetComPortProtocol m_protocol;
    Phase m_phase = Phase::Closed;
    // Bumped by every open and close: callbacks of an earlier one are stale.
    quint64 m_attempt = 0;
    bool m_rtsAtOpen = false;
    // DTR is left alone at close unless this client has driven it.
    bool m_dtrDriven = false;
    QList<QHostAddress> m_addresses;
    int m_nextAddress = 0;
    bool m_retryPending = false;
    int m_lookupId = -1;
    QString m_tlsReason;
    QString m_lostReason;
    bool m_draining = false;
    quint32 m_seenInputChanges = 0;
    bool m_lineChangePosted = false;
    std::function<void(bool)> m_done;
    std::function<void()> m_lineChangeHandler;
    bool m_heartbeatOn = false;
    QString m_peerCertificateSummary;
    Failure m_failure = Failure::None;
    QString m_errorString;

    QTimer m_deadlineTimer;
    QTimer m_heartbeatTimer;
    // Receiver of the socket's and timers' signals and of posted calls;
    // declared last so that it goes first, taking them all with it.
    QObject m_context;
};
