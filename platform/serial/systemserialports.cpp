#include "platform/serial/systemserialports.h"

#include "platform/net/networkaddress.h"
#include "platform/net/networkserialport.h"
#include "platform/serial/localserialport.h"
#include "platform/serial/unavailableport.h"
#include "platform/storage/securefile.h"

#include <variant>

SystemSerialPorts::SystemSerialPorts(const PortMappings &mappings)
    : m_mappings(mappings)
{
}

QString SystemSerialPorts::location(int portNumber) const
{
    if (portNumber < 1 || portNumber > 9)
        return {};
    return m_mappings.mapping(portNumber).location;
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
    if (portNumber < 1 || portNumber > 9)
        return nullptr;
    const PortMappings::Mapping mapping = m_mappings.mapping(portNumber);
    if (!mapping.refusal.isEmpty())
        return std::make_unique<UnavailablePort>(mapping.refusal);
    if (NetworkAddress::isNetworkAddress(mapping.location))
        return createNetworkPort(mapping.location);
    return std::make_unique<LocalSerialPort>(mapping.location);
}

bool SystemSerialPorts::finishClosing(int maxMs)
{
    return m_closing.finish(maxMs);
}

std::unique_ptr<SerialPortDevice> SystemSerialPorts::createNetworkPort(const QString &address)
{
    if (!address.startsWith(QLatin1String("rfc2217+tls://"), Qt::CaseInsensitive))
        return std::make_unique<NetworkSerialPort>(address, NetworkSerialPort::TlsFiles{}, &m_closing);
    // An unusable file refuses the port: never the system's authorities in
    // place of a Ca-File the user gave, nor a connection without the key.
    const PortMappings::Tls tls = m_mappings.tls();
    if (!tls.refusal.isEmpty())
        return std::make_unique<UnavailablePort>(tls.refusal);
    const struct
    {
        const QString &path;
        const char *key;
        TlsFileKind kind;
    } files[] = {
        {tls.files.caFile, "Ca-File", TlsFileKind::Certificates},
        {tls.files.certFile, "Cert-File", TlsFileKind::Certificates},
        {tls.files.keyFile, "Key-File", TlsFileKind::PrivateKey},
    };
    for (const auto &file : files) {
        if (file.path.isEmpty())
            continue;
        const auto read = readTlsFile(file.path, file.kind);
        if (const QString *refusal = std::get_if<QString>(&read))
            return std::make_unique<UnavailablePort>(
                QStringLiteral("%1 in [Tls] \"%2\": %3").arg(QLatin1String(file.key), file.path, *refusal));
    }
    return std::make_unique<NetworkSerialPort>(address, tls.files, &m_closing);
}
