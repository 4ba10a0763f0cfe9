#pragma once

#include "platform/net/networkaddress.h"
#include "platform/net/telnetcomportprotocol.h"
#include "platform/net/tlssetup.h"
#include "platform/serial/serialportdevice.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

class QSslError;
class QSslSocket;
class QTcpSocket;

// One attempt at opening a port on a device server: look the host up,
// connect to each of its addresses in turn, shake hands for TLS, take up
// Com Port Control and agree 9600 8N1 without flow control. Driven by the
// socket's signals and bounded by OpenTimeoutMs; nothing here waits. Ends
// with succeeded() (then takeSocket()) or failed() with the reason.
class NetworkConnector : public QObject
{
    Q_OBJECT

public:
    static constexpr int OpenTimeoutMs = 2000;

    enum class Stage { Idle, LookingUp, Connecting, Encrypting, Negotiating, Settling, Done, Failed };

    NetworkConnector(const NetworkAddress &address, const TlsFiles &tls, QObject *parent = nullptr);
    ~NetworkConnector() override;

    // Begins with a host-name lookup on the event loop, unless the host is a
    // literal address; RTS (and DTR, when given) are driven to their levels
    // with the line settings.
    void start(const SerialPortDevice::OpenLevels &levels);
    // Begins with addresses looked up elsewhere; none: that lookup ran out
    // of time.
    void startWith(const SerialPortDevice::OpenLevels &levels, const std::optional<QList<QHostAddress>> &addresses);

    Stage stage() const { return m_stage; }
    bool isRunning() const;

    // For a caller that drives the attempt by waiting on the socket itself
    // rather than on the event loop: the socket, whether the next address
    // is due (and trying it now), a refusal that shows only in the socket's
    // state, and the end of the time allowed.
    QTcpSocket *socket() const { return m_socket.get(); }
    bool hasRetryPending() const { return m_retryPending; }
    void retryNow();
    void checkSocket();
    void timeOut();

    // After succeeded(): the connected socket and what the server has told.
    std::unique_ptr<QTcpSocket> takeSocket();
    const TelnetComPortProtocol &protocol() const { return m_protocol; }
    // How many RTS and DTR commands the line settings sent: their answers
    // may still be on the way when the session takes over.
    quint32 lineControlsSent() const { return m_levels.dtr ? 2 : 1; }
    QString peerCertificateSummary() const { return m_peerCertificateSummary; }

signals:
    void succeeded();
    void failed(const QString &reason);

private:
    bool begin(const SerialPortDevice::OpenLevels &levels);
    void createSocket();
    void connectToAddresses(const QList<QHostAddress> &addresses);
    void connectNext();
    void handleConnected();
    void handleEncrypted();
    void handleError();
    void handleSslErrors(const QList<QSslError> &errors);
    void startNegotiation();
    void step();
    void sendLineSettings();
    void checkLineSettings();
    bool sendBytes(const QByteArray &bytes);
    void succeed();
    void fail(const QString &reason);
    QString timeoutReason() const;
    QString socketReason() const;
    QString lostReason() const;

    NetworkAddress m_address;
    TlsSetup m_tls;
    std::optional<QSslConfiguration> m_sslConfiguration;
    std::unique_ptr<QTcpSocket> m_socket;
    QSslSocket *m_sslSocket = nullptr; // m_socket, when it is one
    TelnetComPortProtocol m_protocol;
    Stage m_stage = Stage::Idle;
    SerialPortDevice::OpenLevels m_levels;
    QList<QHostAddress> m_addresses;
    int m_nextAddress = 0;
    bool m_retryPending = false;
    bool m_stepping = false;
    int m_lookupId = -1;
    QString m_tlsReason;
    QString m_peerCertificateSummary;
    QTimer m_deadline;
};
