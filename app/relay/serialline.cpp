#include "app/relay/serialline.h"

#include "platform/serialportdevice.h"

SerialLineError::SerialLineError(Kind kind, const QString &description)
    : std::runtime_error(description.toStdString())
    , m_kind(kind)
{
}

SerialLine::SerialLine(SerialPortFactory &ports)
    : m_ports(ports)
{
}

SerialLine::~SerialLine()
{
    close();
}

void SerialLine::select(qint16 portNumber)
{
    if (isOpen())
        throw SerialLineError(SerialLineError::Kind::PortOpen, QStringLiteral("Port is already open"));
    m_portNumber = portNumber;
}

void SerialLine::open()
{
    if (isOpen())
        throw SerialLineError(SerialLineError::Kind::PortOpen, QStringLiteral("Port is already open"));
    std::unique_ptr<SerialPortDevice> device = m_ports.create(m_portNumber);
    if (!device)
        throw SerialLineError(SerialLineError::Kind::OpenFailed, QStringLiteral("Invalid port number"));
    if (!device->open(m_rtsEnabled))
        throw SerialLineError(SerialLineError::Kind::OpenFailed, device->errorString());
    m_device = std::move(device);
}

void SerialLine::close()
{
    if (!m_device)
        return;
    // A port set to keep its lines on close (-hupcl), and a network port,
    // would otherwise leave RTS high with nobody driving it.
    m_device->setRts(false);
    m_device->close();
    m_device.reset();
}

void SerialLine::setRtsEnabled(bool enabled)
{
    m_rtsEnabled = enabled;
    if (m_device && !m_device->setRts(enabled))
        raiseLineFailure("RTS");
}

bool SerialLine::ctsHolding()
{
    if (!m_device)
        throw SerialLineError(SerialLineError::Kind::NotOpen, QStringLiteral("Port is not open"));
    bool holding = false;
    if (!m_device->readCts(&holding))
        raiseLineFailure("CTS");
    return holding;
}

void SerialLine::raiseLineFailure(const char *operation)
{
    const QString description = QStringLiteral("%1: %2").arg(QLatin1String(operation), m_device->errorString());
    if (m_device->failure() == SerialPortDevice::Failure::DeviceLost) {
        // Gone for good: count the port as closed until it is opened again.
        m_device->close();
        m_device.reset();
        throw SerialLineError(SerialLineError::Kind::DeviceLost, description);
    }
    throw SerialLineError(SerialLineError::Kind::LineFailed, description);
}
