#pragma once

#include "support/rigtool.h"

#include <QDeadlineTimer>
#include <QProcess>

// Debian's broker (package mosquitto) on 127.0.0.1, run by the rig's
// "mosquitto" command (tests/e2e/zelvo_e2e/mosquitto.py): a free port,
// anonymous clients, nothing kept on disk. Stopped when destroyed.
class MosquittoBroker
{
public:
    ~MosquittoBroker() { stop(); }

    // Starts it, on the same port as before when restarted; returns once it
    // listens (bounded).
    bool start()
    {
        QStringList arguments{QStringLiteral("mosquitto")};
        if (m_port != 0)
            arguments << QStringLiteral("--port") << QString::number(m_port);
        if (!m_tlsFolder.isEmpty())
            arguments << QStringLiteral("--tls") << m_tlsFolder;
        startRigTool(m_process, arguments);
        // "listening PORT" once the broker listens.
        const QDeadlineTimer deadline(20000);
        while (m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            if (!m_process.canReadLine())
                continue;
            const QList<QByteArray> words = m_process.readLine().trimmed().split(' ');
            if (words.size() != 2 || words.first() != "listening")
                break;
            m_port = quint16(words.last().toUInt());
            return true;
        }
        return false;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        // The end of its input stops the broker and the rig's process with it.
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    quint16 port() const { return m_port; }
    // Before start(): TLS only, with the rig's certificates in `folder`
    // (python3 -m zelvo_e2e certificates).
    void setTls(const QString &folder) { m_tlsFolder = folder; }

private:
    QProcess m_process;
    quint16 m_port = 0;
    QString m_tlsFolder;
};
