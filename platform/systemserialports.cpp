#include "platform/systemserialports.h"

#include "platform/localserialport.h"
#include "platform/networkserialport.h"

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
    if (NetworkSerialPort::isNetworkAddress(where))
        return std::make_unique<NetworkSerialPort>(where);
    return std::make_unique<LocalSerialPort>(where);
}
