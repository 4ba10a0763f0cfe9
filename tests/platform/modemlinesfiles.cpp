#include "modemlinesfiles.h"

#include <QFile>
#include <QSaveFile>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

bool ModemLinesFiles::libraryLoaded()
{
    return dlsym(RTLD_DEFAULT, "zelvo_modemlines_loaded") != nullptr;
}

ModemLinesFiles::ModemLinesFiles(const QString &directory)
    : m_directory(directory)
{
}

QString ModemLinesFiles::linesPath(const QString &device) const
{
    return m_directory + QLatin1Char('/') + device + QStringLiteral(".lines");
}

bool ModemLinesFiles::line(const QString &device, const QString &name) const
{
    QFile file(linesPath(device));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QStringList fields = QString::fromLatin1(file.readAll()).simplified().split(QLatin1Char(' '));
    return field(fields, name) == QLatin1String("1");
}

bool ModemLinesFiles::setLine(const QString &device, const QString &name, bool on)
{
    const QByteArray lockPath = QFile::encodeName(m_directory + QLatin1Char('/') + device + QStringLiteral(".lock"));
    const int lock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0)
        return false;
    ::flock(lock, LOCK_EX);
    QStringList fields;
    {
        QFile current(linesPath(device));
        if (current.open(QIODevice::ReadOnly))
            fields = QString::fromLatin1(current.readAll()).simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    const QString entry = name + QLatin1Char('=') + QLatin1Char(on ? '1' : '0');
    bool replaced = false;
    for (QString &f : fields) {
        if (f.startsWith(name + QLatin1Char('='))) {
            f = entry;
            replaced = true;
        }
    }
    if (!replaced)
        fields.append(entry);
    // QSaveFile renames into place, as the library does: no reader sees half a file.
    QSaveFile file(linesPath(device));
    bool ok = file.open(QIODevice::WriteOnly);
    if (ok) {
        file.write(fields.join(QLatin1Char(' ')).toLatin1() + '\n');
        ok = file.commit();
    }
    ::flock(lock, LOCK_UN);
    ::close(lock);
    return ok;
}

QList<QStringList> ModemLinesFiles::requests(const QString &device) const
{
    QList<QStringList> entries;
    QFile log(m_directory + QStringLiteral("/modemlines.log"));
    if (!log.open(QIODevice::ReadOnly))
        return entries;
    const QString devField = QStringLiteral("dev=") + device;
    for (const QByteArray &raw : log.readAll().split('\n')) {
        const QStringList fields = QString::fromLatin1(raw).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.contains(devField))
            entries.append(fields);
    }
    return entries;
}

QList<QStringList> ModemLinesFiles::requests(const QString &device, const QString &op) const
{
    QList<QStringList> entries = requests(device);
    entries.removeIf([&op](const QStringList &entry) { return field(entry, QStringLiteral("op")) != op; });
    return entries;
}

QList<QStringList> ModemLinesFiles::rtsWrites(const QString &device) const
{
    QList<QStringList> writes;
    for (const QStringList &entry : requests(device)) {
        if (field(entry, QStringLiteral("lines")).split(QLatin1Char(',')).contains(QLatin1String("RTS")))
            writes.append(entry);
    }
    return writes;
}

QString ModemLinesFiles::field(const QStringList &entry, const QString &key)
{
    const QString prefix = key + QLatin1Char('=');
    for (const QString &f : entry) {
        if (f.startsWith(prefix))
            return f.mid(prefix.size());
    }
    return {};
}
