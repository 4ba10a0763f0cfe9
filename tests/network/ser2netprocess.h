#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// ser2net 4 run by a test, in the foreground with a private configuration
// and pid file: one RFC 2217 accepter on 127.0.0.1 in front of one serial
// device (a pseudo-terminal). Stopped when destroyed, also when the test
// fails half-way.
class Ser2netProcess
{
public:
    Ser2netProcess() = default;
    ~Ser2netProcess();

    Ser2netProcess(const Ser2netProcess &) = delete;
    Ser2netProcess &operator=(const Ser2netProcess &) = delete;

    static QString program();

    // connectorSettings as in the configuration, e.g. "19200e71,local".
    // Waits (bounded) until the accepter listens.
    bool start(const QString &devicePath, const QString &connectorSettings);
    quint16 port() const { return m_port; }
    QString address() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_port); }
    QString output();
    void kill();

private:
    bool isListening() const;

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_output;
};
