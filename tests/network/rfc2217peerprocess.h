#pragma once

#include <QObject>
#include <QProcess>
#include <QString>

// rfc2217peer.py run by a test: an RFC 2217 server on 127.0.0.1 whose fake
// port's CTS the test drives and whose RTS it reads. Stopped when destroyed,
// also when the test fails half-way.
class Rfc2217PeerProcess : public QObject
{
    Q_OBJECT

public:
    explicit Rfc2217PeerProcess(QObject *parent = nullptr);
    ~Rfc2217PeerProcess() override;

    // Starts the script and waits (bounded) until it listens.
    bool start();
    quint16 port() const { return m_port; }
    QString address() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_port); }

    void setCts(bool asserted);
    void requestState();
    // The server closes the client's connection and waits for the next one.
    void dropClient();
    void kill();

    // What the script has reported so far; updated as the event loop runs.
    bool rts() const { return m_rts; }
    int rtsChanges() const { return m_rtsChanges; }
    bool hasClient() const { return m_hasClient; }
    // Data bytes the clients have sent, Telnet commands left out.
    int dataBytes() const { return m_dataBytes; }
    QString lastState() const { return m_lastState; }
    QString errorOutput() const { return m_errorOutput; }

private:
    void readOutput();
    void handleLine(const QString &line);
    void send(const QByteArray &command);

    QProcess m_process;
    QByteArray m_buffer;
    QString m_errorOutput;
    quint16 m_port = 0;
    bool m_rts = false;
    int m_rtsChanges = 0;
    bool m_hasClient = false;
    int m_dataBytes = 0;
    QString m_lastState;
};
