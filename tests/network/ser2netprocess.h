#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

// ser2net 4 run by a test, in the foreground with a private configuration
// and pid file: one RFC 2217 accepter on 127.0.0.1 in front of one serial
// device (a pseudo-terminal). Stopped when destroyed, also when the test
// fails half-way. With setTls() the accepter speaks TLS (gensio's ssl).
class Ser2netProcess
{
public:
    // The server's side of TLS. With clientCaDirectory set, a client must
    // present a certificate: ser2net looks for its issuer in
    // clientCaDirectory/<the certificate's common name>/allowed_certs/, a
    // folder of PEM files named by their subject hash (openssl rehash),
    // whatever CA= says.
    struct Tls
    {
        QString certFile;
        QString keyFile;
        QString clientCaFile;
        QString clientCaDirectory;
    };

    Ser2netProcess() = default;
    ~Ser2netProcess();

    Ser2netProcess(const Ser2netProcess &) = delete;
    Ser2netProcess &operator=(const Ser2netProcess &) = delete;

    static QString program();

    // connectorSettings as in the configuration, e.g. "19200e71,local".
    // Waits (bounded) until the accepter listens.
    bool start(const QString &devicePath, const QString &connectorSettings);
    // Before start(): what ser2net runs with (e.g. a preloaded library).
    void setEnvironment(const QProcessEnvironment &environment) { m_process.setProcessEnvironment(environment); }
    void setTls(const Tls &tls) { m_tls = tls; }
    // Before start(): seconds without data either way after which ser2net
    // drops the client; 0, the default, never.
    void setIdleTimeout(int seconds) { m_idleTimeoutS = seconds; }
    quint16 port() const { return m_port; }
    QString address() const
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(m_tls.certFile.isEmpty() ? "rfc2217" : "rfc2217+tls")).arg(m_port);
    }
    QString output();
    void kill();

private:
    bool isListening() const;

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    Tls m_tls;
    int m_idleTimeoutS = 0;
    QString m_output;
};
