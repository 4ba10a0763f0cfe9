#pragma once

#include "support/rigtool.h"

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
        m_port = startListeningRigTool(m_process, arguments);
        return m_port != 0;
    }

    void stop() { stopRigTool(m_process); }

    quint16 port() const { return m_port; }
    // Before start(): TLS only, with the rig's certificates in `folder`
    // (python3 -m zelvo_e2e certificates).
    void setTls(const QString &folder) { m_tlsFolder = folder; }

private:
    QProcess m_process;
    quint16 m_port = 0;
    QString m_tlsFolder;
};
