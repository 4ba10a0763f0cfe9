#include "platform/serial/systemserialports.h"

#include "platform/serial/localserialport.h"
#include "platform/net/networkaddress.h"
#include "platform/net/networkserialport.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

SystemSerialPorts::SystemSerialPorts(const QString &settingsFile)
    : m_settingsFile(settingsFile)
{
}

QString SystemSerialPorts::location(int portNumber) const
{
    if (portNumber < 1 || portNumber > 9)
        return {};
    // Read afresh each time, so that an edited mapping is used at the next open.
    const QSettings settings(m_settingsFile, QSettings::IniFormat);
    const QString mapped = settings.value(QStringLiteral("Ports/Com%1").arg(portNumber)).toString().trimmed();
    if (!mapped.isEmpty())
        return mapped;
    return builtInLocation(portNumber);
}

QString SystemSerialPorts::builtInLocation(int portNumber)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(portNumber);
#else
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}

std::unique_ptr<SerialPortDevice> SystemSerialPorts::create(int portNumber)
{
    const QString where = location(portNumber);
    if (where.isEmpty())
        return nullptr;
    // A malformed address still gets its adapter: its open() fails, so the
    // activation reports the port like any other that is not available.
    if (NetworkAddress::isNetworkAddress(where))
        return std::make_unique<NetworkSerialPort>(where, tlsFiles(), &m_closing);
    return std::make_unique<LocalSerialPort>(where);
}

bool SystemSerialPorts::finishClosing(int maxMs)
{
    return m_closing.finish(maxMs);
}

NetworkSerialPort::TlsFiles SystemSerialPorts::tlsFiles() const
{
    const QSettings settings(m_settingsFile, QSettings::IniFormat);
    // A relative path is taken from the settings file's folder, where such
    // files are kept beside it, not from wherever the program was started.
    const QDir folder = QFileInfo(m_settingsFile).absoluteDir();
    const auto path = [&](const QString &key) {
        const QString value = settings.value(QStringLiteral("Tls/") + key).toString().trimmed();
        return value.isEmpty() ? value : QDir::cleanPath(folder.absoluteFilePath(value));
    };
    NetworkSerialPort::TlsFiles files;
    files.caFile = path(QStringLiteral("Ca-File"));
    files.certFile = path(QStringLiteral("Cert-File"));
    files.keyFile = path(QStringLiteral("Key-File"));
    return files;
}
