#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

// Debian's broker (package mosquitto), run by a test on 127.0.0.1 with a
// configuration of its own in a temporary folder: a free port, anonymous
// clients, nothing kept on disk. Stopped when destroyed.
class MosquittoBroker
{
public:
    ~MosquittoBroker() { stop(); }

    // Starts it, on the same port as before when restarted; waits (bounded)
    // until it accepts connections.
    bool start()
    {
        if (!m_folder.isValid())
            return false;
        if (m_port == 0) {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost))
                return false;
            m_port = probe.serverPort();
        }
        QFile config(m_folder.filePath(QStringLiteral("mosquitto.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        // set_tcp_nodelay as the README advises: a claim's echo is not held
        // back for an acknowledgement.
        config.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n"
                                    "set_tcp_nodelay true\nlog_dest stderr\n")
                         .arg(m_port)
                         .toUtf8());
        // Started as root, the broker reads its key after it has become
        // user "mosquitto"; "user root" keeps it able to (and means nothing
        // to a broker started by anyone else).
        if (!m_tlsFolder.isEmpty()) {
            config.write(QStringLiteral("user root\ncafile %1/ca.pem\ncertfile %1/server.pem\nkeyfile %1/server.key\n")
                             .arg(m_tlsFolder)
                             .toUtf8());
        }
        config.close();
        m_process.setWorkingDirectory(m_folder.path());
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/sbin/mosquitto"), {QStringLiteral("-c"), config.fileName()});
        if (!m_process.waitForStarted(5000))
            return false;
        const QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_port);
            if (socket.waitForConnected(200))
                return true;
            m_process.waitForFinished(50);
        }
        return false;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

    quint16 port() const { return m_port; }
    // Before start(): TLS only, with the rig's certificates in `folder`
    // (python3 -m zelvo_e2e certificates).
    void setTls(const QString &folder) { m_tlsFolder = folder; }

private:
    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_tlsFolder;
};
