#include "ser2netprocess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

Ser2netProcess::~Ser2netProcess()
{
    kill();
}

QString Ser2netProcess::program()
{
    const QStringList systemDirectories = {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")};
    QString found = QStandardPaths::findExecutable(QStringLiteral("ser2net"));
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(QStringLiteral("ser2net"), systemDirectories);
    return found;
}

bool Ser2netProcess::start(const QString &devicePath, const QString &connectorSettings)
{
    if (!m_dir.isValid() || program().isEmpty())
        return false;
    {
        // A free port, given back just before ser2net takes it.
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost))
            return false;
        m_port = probe.serverPort();
    }
    const QString configPath = m_dir.filePath(QStringLiteral("ser2net.yaml"));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly))
        return false;
    QString tls;
    QString options;
    if (!m_tls.certFile.isEmpty()) {
        tls = QStringLiteral("ssl(key=%1,cert=%2").arg(m_tls.keyFile, m_tls.certFile);
        if (!m_tls.clientCaDirectory.isEmpty()) {
            tls += QStringLiteral(",CA=%1,clientauth").arg(m_tls.clientCaFile);
            options = QStringLiteral("  options:\n    authdir: %1\n").arg(m_tls.clientCaDirectory);
        }
        tls += QStringLiteral("),");
    }
    config.write(QStringLiteral("connection: &test\n"
                                "  accepter: telnet(rfc2217),%1tcp,127.0.0.1,%2\n"
                                "  timeout: %3\n"
                                "  connector: serialdev,%4,%5\n"
                                "%6")
                     .arg(tls)
                     .arg(m_port)
                     .arg(m_idleTimeoutS)
                     .arg(devicePath, connectorSettings, options)
                     .toUtf8());
    config.close();

    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // -n -d: foreground, debug output to stdout; -u: no UUCP lock files in
    // the system's lock directory; -P: a pid file of our own.
    m_process.start(program(), {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-u"), QStringLiteral("-c"),
                                configPath, QStringLiteral("-P"), m_dir.filePath(QStringLiteral("ser2net.pid"))});
    if (!m_process.waitForStarted(5000))
        return false;
    // Readiness without connecting: a probe connection would open the
    // device and could still be closing when the test connects.
    const QDeadlineTimer deadline(10000);
    while (!isListening()) {
        if (deadline.hasExpired() || m_process.state() != QProcess::Running)
            return false;
        m_process.waitForReadyRead(20);
    }
    return true;
}

QString Ser2netProcess::output()
{
    m_output += QString::fromLocal8Bit(m_process.readAll());
    return m_output;
}

void Ser2netProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool Ser2netProcess::isListening() const
{
    // /proc/net/tcp: "sl local_address rem_address st ...", addresses as
    // hex IP:PORT, state 0A for LISTEN.
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QString wanted = QStringLiteral("0100007F:%1").arg(m_port, 4, 16, QLatin1Char('0')).toUpper();
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && QString::fromLatin1(fields[1]).toUpper() == wanted && fields[3] == "0A")
            return true;
    }
    return false;
}
