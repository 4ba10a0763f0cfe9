#include "core/rigctlupstream.h"

#include <QTcpSocket>

namespace {

// rigctld ends some answers with "RPRT n", some with a value, and answers a
// command it does not know with nothing at all, so an answer's end cannot be
// read from the answer itself. Each command is therefore followed by this
// one: a frequency that is not a number, refused before the radio is asked,
// whose echo cannot be part of any other answer. What comes before the echo
// is the command's answer. (The extended "\chk_vfo" would be cheaper, but
// Hamlib 4.5's rigctld then answers the next command in extended form too.)
constexpr char endMarker[] = "+\\set_freq answer-end\n";
constexpr char endEcho[] = "set_freq: answer-end\n";

} // namespace

RigctlUpstream::RigctlUpstream(const QHostAddress &address, quint16 port, QObject *parent)
    : QObject(parent)
    , m_address(address)
    , m_port(port)
{
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(answerTimeoutMs);
    connect(&m_deadline, &QTimer::timeout, this, &RigctlUpstream::fail);
}

void RigctlUpstream::send(const QByteArray &line)
{
    m_waiting = true;
    m_received.clear();
    m_deadline.start();
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState) {
        m_socket->write(line + endMarker);
        return;
    }
    m_line = line;
    if (m_socket)
        return; // still connecting
    m_socket = new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::connected, this, [this] { m_socket->write(std::exchange(m_line, {}) + endMarker); });
    connect(m_socket, &QTcpSocket::readyRead, this, &RigctlUpstream::takeAnswer);
    // Queued, so that a failure is never reported from inside send().
    connect(m_socket, &QTcpSocket::errorOccurred, this, &RigctlUpstream::fail, Qt::QueuedConnection);
    connect(m_socket, &QTcpSocket::disconnected, this, &RigctlUpstream::fail, Qt::QueuedConnection);
    m_socket->connectToHost(m_address, m_port);
}

void RigctlUpstream::takeAnswer()
{
    const QByteArray bytes = m_socket->readAll();
    if (!m_waiting)
        return; // nothing asked: not an answer to anything
    m_received += bytes;
    qsizetype echo = -1;
    do {
        echo = m_received.indexOf(endEcho, echo + 1);
    } while (echo > 0 && m_received.at(echo - 1) != '\n');
    const qsizetype end = echo < 0 ? -1 : m_received.indexOf('\n', echo + qsizetype(sizeof endEcho) - 1);
    if (end < 0) {
        // A flood that never ends is not held: the deadline settles it.
        if (m_received.size() > 1024 * 1024)
            fail();
        return;
    }
    m_waiting = false;
    m_deadline.stop();
    emit answered(m_received.first(echo));
    m_received.clear();
}

void RigctlUpstream::fail()
{
    // The connection is dropped, so that what it may still say is never taken
    // for the next command's answer; the next command connects afresh.
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    m_line.clear();
    m_received.clear();
    m_deadline.stop();
    if (std::exchange(m_waiting, false))
        emit failed();
}
