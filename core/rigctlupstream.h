#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

class QTcpSocket;

// One client's line to the radio's own rigctld, for the commands this program
// passes on. It sends one command at a time and gives back rigctld's answer
// exactly as rigctld wrote it, so the client reads what rigctld would have told
// it. It connects when the first command comes and again after a failure, and
// never blocks: an unreachable, closed or silent rigctld fails the command
// within answerTimeoutMs.
class RigctlUpstream : public QObject
{
    Q_OBJECT

public:
    static constexpr int answerTimeoutMs = 2000;

    RigctlUpstream(const QHostAddress &address, quint16 port, QObject *parent = nullptr);

    // One command line, ended by "\n"; answered() or failed() follows, once.
    void send(const QByteArray &line);

signals:
    void answered(const QByteArray &answer);
    void failed();

private:
    void takeAnswer();
    void fail();

    QHostAddress m_address;
    quint16 m_port = 0;
    QTcpSocket *m_socket = nullptr;
    QTimer m_deadline;
    QByteArray m_line; // waiting for the connection
    QByteArray m_received;
    bool m_waiting = false;
};
