#include "platform/storage/boundedlinefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString BoundedLineFile::append(const QByteArray &line) const
{
    const QFileInfo info(m_fileName);
    if (!QDir().mkpath(info.absolutePath()))
        return QStringLiteral("cannot create the folder %1").arg(info.absolutePath());
    if (info.exists() && info.size() + line.size() + 1 > m_maxBytes) {
        QFile::remove(rotatedFileName());
        if (!QFile::rename(m_fileName, rotatedFileName()))
            return QStringLiteral("cannot move %1 to %2").arg(m_fileName, rotatedFileName());
    }
    QFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return file.errorString();
    // One write for the whole line, so that a reader never sees half of it
    // but at the very end of the file.
    const QByteArray text = (file.size() == 0 ? m_header + '\n' : QByteArray()) + line + '\n';
    if (file.write(text) != text.size() || !file.flush())
        return file.errorString();
    return {};
}

QList<QByteArray> BoundedLineFile::lines() const
{
    QList<QByteArray> lines;
    for (const QString &name : {rotatedFileName(), m_fileName}) {
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> read = file.readAll().split('\n');
        for (qsizetype index = 0; index < read.size(); ++index) {
            if (!read[index].isEmpty() && !(index == 0 && read[index] == m_header))
                lines.append(read[index]);
        }
    }
    return lines;
}
