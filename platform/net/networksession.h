#pragma once

#include "platform/net/telnetcomportprotocol.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

class QTcpSocket;

// Writes `bytes` and hands them to the kernel at once (flush() does not
// block). False when the socket is not connected or refuses them.
bool sendNow(QTcpSocket &socket, const QByteArray &bytes);

// An open connection to a port on a device server, once the line settings
// are agreed: the server's modem state as it arrives, our control lines,
// the heartbeat, and noticing that the link is gone. Every call returns
// without waiting for the server.
class NetworkSession : public QObject
{
    Q_OBJECT

public:
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

    // Takes over a connected socket and the protocol state it was opened with.
    // `lineControlsSent`: the RTS and DTR commands already sent on this
    // connection, whose answers are still to be counted.
    NetworkSession(std::unique_ptr<QTcpSocket> socket, const TelnetComPortProtocol &protocol,
                   quint32 lineControlsSent, QObject *parent = nullptr);
    ~NetworkSession() override;

    // Sets the socket options that make a dead link show; best effort.
    static void configureLink(QTcpSocket *socket);

    // Reads whatever the server has sent, without waiting; a loss shows here
    // too when no event loop has run since.
    void poll();
    bool isLost() const { return m_lost; }
    QString lostReason() const { return m_lostReason; }

    // False when the connection is lost (then lineChanged follows). The
    // server answers each; writesConfirmed() once all sent are answered.
    bool setRts(bool on);
    bool setDtr(bool on);
    // DTR was set while the connection was negotiated: release() drops it.
    void noteDtrDriven() { m_dtrDriven = true; }
    // The last modem state the server told of; none before the first.
    std::optional<quint8> modemState() const { return m_protocol.modemState(); }

    void setHeartbeat(bool on);
    int socketDescriptor() const;

    // Writes what leaves the far end's relay released (RTS off, and DTR off
    // where this session drove it) and hands the socket over for closing.
    std::unique_ptr<QTcpSocket> release();

signals:
    // An input line changed, or the connection was lost; emitted from
    // inside the session, so a receiver that may close it must queue.
    void lineChanged();
    // The server has answered every RTS and DTR command sent so far: the
    // lines at the far end are where they were last set.
    void writesConfirmed();

private:
    void step();
    void drain();
    bool sendControl(quint8 value);
    bool sendBytes(const QByteArray &bytes);
    void sendHeartbeat();
    void markLost();

    std::unique_ptr<QTcpSocket> m_socket;
    TelnetComPortProtocol m_protocol;
    quint32 m_seenInputChanges = 0;
    quint32 m_lineControlsSent = 0;
    bool m_awaitingAnswers = false;
    bool m_dtrDriven = false;
    bool m_draining = false;
    bool m_lost = false;
    QString m_lostReason;
    QTimer m_heartbeatTimer;
};
