#include "ser2netprocess.h"

#include "support/rigtool.h"

#include <QDeadlineTimer>
#include <QFile>

Ser2netProcess::~Ser2netProcess()
{
    kill();
}

bool Ser2netProcess::start(const QString &devicePath, const QString &connectorSettings)
{
    startRigTool(m_process, QStringList{QStringLiteral("ser2net"), QStringLiteral("--device"), devicePath,
                                        QStringLiteral("--connector"), connectorSettings}
                                + m_options);
    // "listening PORT OUTPUT-FILE" once ser2net listens.
    const QDeadlineTimer deadline(20000);
    while (m_port == 0 && m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
        while (m_process.canReadLine()) {
            const QStringList words = QString::fromUtf8(m_process.readLine()).split(QLatin1Char(' '));
            if (words.size() == 3 && words[0] == QLatin1String("listening")) {
                m_port = quint16(words[1].toUInt());
                m_outputPath = words[2].trimmed();
            }
        }
    }
    return m_port != 0;
}

QString Ser2netProcess::output()
{
    m_errors += QString::fromLocal8Bit(m_process.readAllStandardError());
    QFile served(m_outputPath);
    return m_errors + (served.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(served.readAll()) : QString());
}

void Ser2netProcess::kill()
{
    stopRigTool(m_process);
}
