#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// ser2net 4 run by a test through the rig's Ser2net (python3 -m zelvo_e2e
// ser2net): one RFC 2217 accepter on 127.0.0.1 in front of one serial device
// (a pseudo-terminal), on the rig's plain profile. Stopped when destroyed,
// also when the test fails half-way.
class Ser2netProcess
{
public:
    Ser2netProcess() = default;
    ~Ser2netProcess();

    Ser2netProcess(const Ser2netProcess &) = delete;
    Ser2netProcess &operator=(const Ser2netProcess &) = delete;

    // connectorSettings as in the configuration, e.g. "19200e71,local".
    // Waits (bounded) until the accepter listens.
    bool start(const QString &devicePath, const QString &connectorSettings);
    // Before start(): the modem-line library preloaded into ser2net, its
    // files in linesDirectory.
    void setModemLines(const QString &library, const QString &linesDirectory)
    {
        m_options << QStringLiteral("--modemlines") << library << QStringLiteral("--lines-dir") << linesDirectory;
    }
    // Before start(): the accepter speaks TLS and demands a client
    // certificate, with the rig's certificates in `folder` (python3 -m
    // zelvo_e2e certificates), presenting <serverCertificate>.pem.
    void setTls(const QString &folder, const QString &serverCertificate)
    {
        m_tls = true;
        m_options << QStringLiteral("--certificates") << folder << QStringLiteral("--server-certificate")
                  << serverCertificate;
    }
    // Before start(): seconds without data either way after which ser2net
    // drops the client; 0, the default, never.
    void setIdleTimeout(int seconds) { m_options << QStringLiteral("--timeout") << QString::number(seconds); }
    quint16 port() const { return m_port; }
    QString address() const
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(m_tls ? "rfc2217+tls" : "rfc2217")).arg(m_port);
    }
    QString output();
    void kill();

private:
    QProcess m_process;
    QStringList m_options;
    bool m_tls = false;
    quint16 m_port = 0;
    QString m_outputPath;
    QString m_errors;
};
