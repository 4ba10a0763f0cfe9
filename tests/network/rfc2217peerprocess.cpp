#include "rfc2217peerprocess.h"

#include <QDeadlineTimer>

Rfc2217PeerProcess::Rfc2217PeerProcess(QObject *parent)
    : QObject(parent)
{
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &Rfc2217PeerProcess::readOutput);
    connect(&m_process, &QProcess::readyReadStandardError, this,
            [this] { m_errorOutput += QString::fromUtf8(m_process.readAllStandardError()); });
}

Rfc2217PeerProcess::~Rfc2217PeerProcess()
{
    kill();
}

bool Rfc2217PeerProcess::start()
{
    // Debian's python3-serial belongs to the system interpreter, whatever
    // python3 comes first on PATH.
    m_process.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(ZELVO_RFC2217_PEER_SCRIPT), QStringLiteral("--port"), QStringLiteral("0")});
    if (!m_process.waitForStarted(5000))
        return false;
    const QDeadlineTimer deadline(10000);
    while (m_port == 0 && m_process.state() == QProcess::Running && !deadline.hasExpired())
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    // waitForReadyRead() emits readyRead itself, so readOutput() has run.
    m_errorOutput += QString::fromUtf8(m_process.readAllStandardError());
    return m_port != 0;
}

void Rfc2217PeerProcess::setCts(bool asserted)
{
    send(asserted ? "cts 1\n" : "cts 0\n");
}

void Rfc2217PeerProcess::requestState()
{
    send("state\n");
}

void Rfc2217PeerProcess::dropClient()
{
    send("drop\n");
}

void Rfc2217PeerProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

void Rfc2217PeerProcess::send(const QByteArray &command)
{
    m_process.write(command);
    m_process.waitForBytesWritten(1000);
}

void Rfc2217PeerProcess::readOutput()
{
    m_buffer += m_process.readAllStandardOutput();
    qsizetype end;
    while ((end = m_buffer.indexOf('\n')) >= 0) {
        handleLine(QString::fromUtf8(m_buffer.left(end)));
        m_buffer.remove(0, end + 1);
    }
}

void Rfc2217PeerProcess::handleLine(const QString &line)
{
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return;
    if (words[0] == QLatin1String("listening") && words.size() >= 2) {
        m_port = quint16(words[1].toUInt());
    } else if (words[0] == QLatin1String("rts") && words.size() >= 2) {
        m_rts = words[1] == QLatin1String("1");
        ++m_rtsChanges;
    } else if (words[0] == QLatin1String("client")) {
        m_hasClient = true;
    } else if (words[0] == QLatin1String("data") && words.size() >= 2) {
        m_dataBytes += words[1].toInt();
    } else if (words[0] == QLatin1String("gone")) {
        m_hasClient = false;
    } else if (words[0] == QLatin1String("state")) {
        m_lastState = line;
    }
}
