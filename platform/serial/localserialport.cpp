#include "platform/serial/localserialport.h"

#include "platform/serial/linechangewaiter.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace {

// The kernel's own verdict for this process's effective ids: a refused open
// may also come from a lock file or a port in use, which the user's groups
// do not change.
bool deniedToThisUser(const QString &device)
{
    return ::faccessat(AT_FDCWD, QFile::encodeName(device).constData(), R_OK | W_OK, AT_EACCESS) != 0
        && errno == EACCES;
}

QString userName()
{
    const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? size_t(size) : 16384);
    passwd entry{};
    passwd *found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QStringLiteral("$USER");
}

// What the user can do about it: join the device's group, where that group
// may open it; a new login is needed before the new group counts.
QString permissionAdvice(const QString &mapped, const QString &device)
{
    const QFileInfo info(device);
    const QString group = info.group();
    if (group.isEmpty() || !info.permissions().testFlags(QFile::ReadGroup | QFile::WriteGroup))
        return QStringLiteral("%1: no permission to open it, and its group may not open it either; "
                              "ask the administrator of this machine for access")
            .arg(mapped);
    return QStringLiteral("%1: no permission to open it. It belongs to the group %2; add yourself with "
                          "\"sudo usermod -aG %2 %3\", then log out and in again: a new group counts "
                          "only from a new login")
        .arg(mapped, group, userName());
}

} // namespace

LocalSerialPort::LocalSerialPort(const QString &devicePath)
    : m_devicePath(devicePath)
{
}

LocalSerialPort::~LocalSerialPort()
{
    close();
}

bool LocalSerialPort::open(const OpenLevels &levels)
{
    // QSerialPort's lock file is named after the path it is given, and root
    // is not stopped by TIOCEXCL: open the real device, so that a by-id link
    // and the device it points to count as one port.
    const QString device = QFileInfo(m_devicePath).canonicalFilePath();
    if (device.isEmpty()) {
        m_failure = Failure::OpenFailed;
        m_errorString = QStringLiteral("%1: no such device").arg(m_devicePath);
        return false;
    }
    m_port.setPortName(device);
    m_port.setBaudRate(QSerialPort::Baud9600);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_port.setReadBufferSize(1024);
    if (!m_port.open(QIODevice::ReadWrite)) {
        if (m_port.error() != QSerialPort::PermissionError || !deniedToThisUser(device))
            return fail(Failure::OpenFailed);
        m_failure = Failure::PermissionDenied;
        m_errorString = permissionAdvice(m_devicePath, device);
        return false;
    }
    // Linux raises RTS and DTR as it opens a tty; put both where they belong
    // at once, before the port counts as open. A relay on either line would
    // otherwise key the transmitter at every reopen.
    if (!m_port.setRequestToSend(levels.rts) || (levels.dtr && !m_port.setDataTerminalReady(*levels.dtr))) {
        fail(Failure::OpenFailed);
        m_port.close();
        return false;
    }
    m_reportsLineChanges = LineChangeWaiter::supported(m_port.handle());
    updateLineChangeWaiter();
    return true;
}

// A waiting thread only where someone listens: an output port, whose input
// lines nobody reads, keeps none.
void LocalSerialPort::updateLineChangeWaiter()
{
    const bool wanted = m_port.isOpen() && m_reportsLineChanges && m_lineChangeHandler;
    if (!wanted) {
        m_lineChangeWaiter.reset();
        return;
    }
    if (m_lineChangeWaiter)
        return;
    auto waiter = std::make_unique<LineChangeWaiter>(m_port.handle());
    QObject::connect(waiter.get(), &LineChangeWaiter::linesChanged, waiter.get(), [this] {
        // A copy: the handler may well replace itself, or close the port
        // (which ends this waiter) when its read finds the device gone.
        if (const std::function<void()> handler = m_lineChangeHandler)
            handler();
    });
    if (waiter->start())
        m_lineChangeWaiter = std::move(waiter);
}

void LocalSerialPort::close()
{
    // The waiting thread uses the descriptor: it ends before the descriptor does.
    m_lineChangeWaiter.reset();
    m_reportsLineChanges = false;
    if (m_port.isOpen())
        m_port.close();
}

bool LocalSerialPort::reportsLineChanges() const
{
    return m_reportsLineChanges;
}

void LocalSerialPort::setLineChangeHandler(std::function<void()> handler)
{
    m_lineChangeHandler = std::move(handler);
    updateLineChangeWaiter();
}

SerialPortDevice::CrashRelease LocalSerialPort::crashRelease() const
{
#ifdef Q_OS_UNIX
    if (m_port.isOpen())
        return {CrashRelease::Kind::ModemLines, int(m_port.handle()), {}};
#endif
    return {};
}

bool LocalSerialPort::setRts(bool on)
{
    m_port.clearError();
    if (!m_port.setRequestToSend(on))
        return fail(classifyLineError());
    return readsBack(QSerialPort::RequestToSendSignal, on, "RTS");
}

bool LocalSerialPort::setDtr(bool on)
{
    m_port.clearError();
    if (!m_port.setDataTerminalReady(on))
        return fail(classifyLineError());
    return readsBack(QSerialPort::DataTerminalReadySignal, on, "DTR");
}

bool LocalSerialPort::readsBack(QSerialPort::PinoutSignal line, bool on, const char *name)
{
    // A write the driver took is not yet a line that moved: only the level
    // read back says the relay's drive is where it was set.
    const QSerialPort::PinoutSignals signalSet = m_port.pinoutSignals();
    if (!m_port.isOpen() || m_port.error() != QSerialPort::NoError)
        return fail(classifyLineError());
    if (signalSet.testFlag(line) == on)
        return true;
    m_failure = Failure::Other;
    m_errorString = QStringLiteral("%1: %2 reads back %3 after it was set %4")
                        .arg(m_devicePath, QLatin1String(name), QLatin1String(on ? "off" : "on"),
                             QLatin1String(on ? "on" : "off"));
    return false;
}

bool LocalSerialPort::readLine(InputLine line, bool *asserted)
{
    m_port.clearError();
    // pinoutSignals() answers "no signals" when it fails: only the error
    // tells a released switch from a failed read.
    const QSerialPort::PinoutSignals signalSet = m_port.pinoutSignals();
    if (!m_port.isOpen() || m_port.error() != QSerialPort::NoError)
        return fail(classifyLineError());
    // In the order of InputLine: CTS, DSR, DCD, RI.
    static constexpr QSerialPort::PinoutSignal signalOf[] = {
        QSerialPort::ClearToSendSignal, QSerialPort::DataSetReadySignal,
        QSerialPort::DataCarrierDetectSignal, QSerialPort::RingIndicatorSignal};
    *asserted = signalSet.testFlag(signalOf[int(line)]);
    return true;
}

bool LocalSerialPort::fail(Failure failure)
{
    m_failure = failure;
    // Named as the user mapped it, so that a wrong mapping can be found.
    m_errorString = QStringLiteral("%1: %2").arg(m_devicePath, m_port.errorString());
    return false;
}

SerialPortDevice::Failure LocalSerialPort::classifyLineError() const
{
    switch (m_port.error()) {
    case QSerialPort::ResourceError: // EIO, ENXIO: the device is gone
    case QSerialPort::DeviceNotFoundError:
        return Failure::DeviceLost;
    default:
        return Failure::Other;
    }
}
