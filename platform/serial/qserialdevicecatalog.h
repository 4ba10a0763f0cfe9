#pragma once

#include "platform/serial/serialdevicecatalog.h"

// The serial devices the kernel lists under /sys/class/tty, with the stable
// names udev gives them in /dev/serial/by-id.
//
// QSerialPortInfo::availablePorts() is not used: it opens every 16550-style
// port (ttyS*) to ask whether a UART is really there, and opening a port can
// raise its RTS and DTR, which on the wrong port keys a transmitter (or
// disturbs the console on ttyS0). The kernel answers the same question in
// sysfs (the port's "type" attribute) without anything being opened.
class QSerialDeviceCatalog : public SerialDeviceCatalog
{
public:
    // The roots are for tests, which build a small tree of their own.
    explicit QSerialDeviceCatalog(const QString &sysRoot = QStringLiteral("/sys"),
                                  const QString &devRoot = QStringLiteral("/dev"));

    QList<SerialDeviceInfo> devices() const override;
    bool exists(const QString &path) const override;

private:
    QString m_sysRoot;
    QString m_devRoot;
};
