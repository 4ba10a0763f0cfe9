#include "core/serialline.h"

#include "platform/process/fatalsignalrelease.h"

#include <QMetaObject>

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
    if (isOpen() || isOpening())
        throw SerialLineError(SerialLineError::Kind::PortOpen, QStringLiteral("Port is already open"));
    m_portNumber = portNumber;
}

QString SerialLine::location() const
{
    return m_ports.location(m_portNumber);
}

std::unique_ptr<SerialPortDevice> SerialLine::createDevice()
{
    if (isOpen() || isOpening())
        throw SerialLineError(SerialLineError::Kind::PortOpen, QStringLiteral("Port is already open"));
    std::unique_ptr<SerialPortDevice> device = m_ports.create(m_portNumber);
    if (!device)
        throw SerialLineError(SerialLineError::Kind::OpenFailed, QStringLiteral("Invalid port number"));
    device->setHeartbeat(m_heartbeat);
    return device;
}

void SerialLine::setLevelsAtOpen(bool rts, std::optional<bool> dtr)
{
    m_levelsAtOpen = LevelsAtOpen{rts, dtr};
}

void SerialLine::applyLevelsAtOpen()
{
    if (!m_levelsAtOpen)
        return;
    m_rtsEnabled = m_levelsAtOpen->rts;
    if (m_levelsAtOpen->dtr)
        m_dtrEnabled = m_levelsAtOpen->dtr;
}

bool SerialLine::adopt(std::unique_ptr<SerialPortDevice> device)
{
    // The open has put DTR where it belongs already; the write here is the
    // proof that the port takes it. A port that refuses is not ready: a
    // relay on DTR would stay keyed.
    if (m_dtrEnabled && !device->setDtr(*m_dtrEnabled)) {
        m_lastOpenError = QStringLiteral("DTR: %1").arg(device->errorString());
        m_lastOpenDenied = false;
        device->close();
        return false;
    }
    m_lastOpenError.clear();
    m_lastOpenDenied = false;
    m_device = std::move(device);
    if (m_lineChangeHandler)
        m_device->setLineChangeHandler(m_lineChangeHandler);
    if (m_writesConfirmedHandler)
        m_device->setWritesConfirmedHandler(m_writesConfirmedHandler);
    return true;
}

void SerialLine::noteOpenFailure(const SerialPortDevice &device)
{
    m_lastOpenError = device.errorString();
    m_lastOpenDenied = device.failure() == SerialPortDevice::Failure::PermissionDenied;
}

void SerialLine::open()
{
    applyLevelsAtOpen();
    std::unique_ptr<SerialPortDevice> device = createDevice();
    if (!device->open(SerialPortDevice::OpenLevels{m_rtsEnabled, m_dtrEnabled})) {
        noteOpenFailure(*device);
        throw SerialLineError(SerialLineError::Kind::OpenFailed, m_lastOpenError);
    }
    if (!adopt(std::move(device)))
        throw SerialLineError(SerialLineError::Kind::OpenFailed, m_lastOpenError);
}

void SerialLine::openInBackground(std::function<void(bool)> done)
{
    applyLevelsAtOpen();
    std::unique_ptr<SerialPortDevice> device = createDevice();
    m_opening = std::move(device);
    m_openContext = std::make_unique<QObject>();
    QObject *context = m_openContext.get();
    const SerialPortDevice::OpenLevels levels{m_rtsEnabled, m_dtrEnabled};
    m_opening->openInBackground(levels, [this, context, done = std::move(done)](bool opened) {
        // Queued: the device may call back from inside openInBackground() or
        // from its own signal handler, and is not to be deleted there.
        QMetaObject::invokeMethod(
            context,
            [this, opened, done] {
                std::unique_ptr<SerialPortDevice> device = std::move(m_opening);
                m_openContext.release()->deleteLater();
                if (!device) {
                    done(false);
                    return;
                }
                if (!opened)
                    noteOpenFailure(*device);
                done(opened && adopt(std::move(device)));
            },
            Qt::QueuedConnection);
    });
}

void SerialLine::close()
{
    if (m_opening) {
        m_opening->close();
        m_opening.reset();
        // Drops a result still on its way.
        m_openContext.reset();
    }
    if (!m_device)
        return;
    // A port set to keep its lines on close (-hupcl), and a network port,
    // would otherwise leave the relay keyed with nobody driving it. A line
    // known to be low already needs no second write. A refused write (a
    // moment's trouble of the adapter or the link) is tried once more: after
    // the close nobody drives the line.
    if (m_rtsEnabled && !m_device->setRts(false))
        m_device->setRts(false);
    if (m_dtrEnabled.value_or(false) && !m_device->setDtr(false))
        m_device->setDtr(false);
    closeDevice();
}

void SerialLine::closeDevice()
{
    // The crash handler lets go of the descriptor first: once closed, its
    // number may be another file's by the time of a crash.
    FatalSignalRelease::disarmDescriptor(m_device->crashRelease().descriptor);
    m_device->close();
    m_device.reset();
}

void SerialLine::setRtsEnabled(bool enabled)
{
    m_rtsEnabled = enabled;
    if (m_device && !m_device->setRts(enabled))
        raiseLineFailure("RTS");
}

void SerialLine::setDtrEnabled(bool enabled)
{
    m_dtrEnabled = enabled;
    if (m_device && !m_device->setDtr(enabled))
        raiseLineFailure("DTR");
}

bool SerialLine::ctsHolding()
{
    return lineHolding(SerialPortDevice::InputLine::Cts);
}

bool SerialLine::lineHolding(SerialPortDevice::InputLine line)
{
    if (!m_device)
        throw SerialLineError(SerialLineError::Kind::NotOpen, QStringLiteral("Port is not open"));
    bool holding = false;
    if (!m_device->readLine(line, &holding))
        raiseLineFailure("line read");
    return holding;
}

bool SerialLine::reportsLineChanges() const
{
    return m_device && m_device->reportsLineChanges();
}

bool SerialLine::confirmsWritesLater() const
{
    return m_device && m_device->confirmsWritesLater();
}

void SerialLine::setWritesConfirmedHandler(std::function<void()> handler)
{
    m_writesConfirmedHandler = std::move(handler);
    if (m_device)
        m_device->setWritesConfirmedHandler(m_writesConfirmedHandler);
}

void SerialLine::setLineChangeHandler(std::function<void()> handler)
{
    m_lineChangeHandler = std::move(handler);
    if (m_device)
        m_device->setLineChangeHandler(m_lineChangeHandler);
}

SerialPortDevice::CrashRelease SerialLine::crashRelease() const
{
    return m_device ? m_device->crashRelease() : SerialPortDevice::CrashRelease{};
}

QString SerialLine::peerCertificateSummary() const
{
    return m_device ? m_device->peerCertificateSummary() : QString();
}

void SerialLine::raiseLineFailure(const char *operation)
{
    const QString description = QStringLiteral("%1: %2").arg(QLatin1String(operation), m_device->errorString());
    if (m_device->failure() == SerialPortDevice::Failure::DeviceLost) {
        // Gone for good: count the port as closed until it is opened again.
        closeDevice();
        throw SerialLineError(SerialLineError::Kind::DeviceLost, description);
    }
    throw SerialLineError(SerialLineError::Kind::LineFailed, description);
}
