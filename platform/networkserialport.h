#pragma once

#include "platform/serialportdevice.h"
#include "platform/telnetcomportprotocol.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

#include <functional>

// A port on a network serial device server, reached directly over Telnet
// with the Com Port Control option (RFC 2217). Addressed as
// rfc2217://HOST:PORT, or rfc2217://[IPv6]:PORT.
//
// Every call runs on the window's thread and returns promptly: open() is
// bounded by OpenTimeoutMs and close() by CloseFlushMs, using blocking waits
// on the socket rather than a nested event loop (which would let activation
// and poll ticks run inside them); setRts() and readCts() never wait for the
// server.
class NetworkSerialPort : public SerialPortDevice
{
public:
    static constexpr int OpenTimeoutMs = 2000;
    static constexpr int CloseFlushMs = 300;
    // A healthy server is silent while the lines stand still, so silence
    // tells nothing: TCP keepalive probes find a dead link within
    // KeepAliveIdleS + KeepAliveIntervalS * KeepAliveCount seconds, and
    // unacknowledged writes give up after UserTimeoutMs.
    static constexpr int KeepAliveIdleS = 1;
    static constexpr int KeepAliveIntervalS = 1;
    static constexpr int KeepAliveCount = 3;
    static constexpr int UserTimeoutMs = 4000;

    explicit NetworkSerialPort(const QString &address);
    ~NetworkSerialPort() override;

    NetworkSerialPort(const NetworkSerialPort &) = delete;
    NetworkSerialPort &operator=(const NetworkSerialPort &) = delete;

    bool open(bool rts) override;
    void close() override;
    bool setRts(bool on) override;
    bool setDtr(bool on) override;
    bool readLine(InputLine line, bool *asserted) override;

    Failure failure() const override { return m_failure; }
    QString errorString() const override { return m_errorString; }

    QString address() const { return m_address; }
    bool isAddressValid() const { return m_port != 0; }
    QString host() const { return m_host; }
    quint16 port() const { return m_port; }

    // Whether a settings value names a network port rather than a device.
    static bool isNetworkAddress(const QString &location);

private:
    void parseAddress();
    bool failOpen(const QString &reason);
    bool fail(Failure failure, const QString &reason);
    void configureLink();
    bool sendBytes(const QByteArray &bytes);
    bool sendPending();
    // Reads and handles whatever the server has sent, without waiting;
    // false once the connection is gone.
    bool drain();
    bool waitUntil(const std::function<bool()> &done, const QDeadlineTimer &deadline);
    QString lostReason() const;

    QString m_address;
    QString m_host;
    quint16 m_port = 0;
    QTcpSocket m_socket;
    TelnetComPortProtocol m_protocol;
    bool m_open = false;
    Failure m_failure = Failure::None;
    QString m_errorString;
};
