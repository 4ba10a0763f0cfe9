#pragma once

#include <QList>
#include <QString>

// One serial device that is present now.
struct SerialDeviceInfo
{
    QString path;         // the device node, as /dev/ttyUSB0
    QString stablePath;   // a name that survives re-plugging (/dev/serial/by-id/...), or empty
    QString description;  // what the device calls itself, as "FT232R USB UART"
    QString manufacturer;
    QString serialNumber; // tells two adapters of the same make apart

    friend bool operator==(const SerialDeviceInfo &, const SerialDeviceInfo &) = default;
};

// The serial devices of this computer, for offering them to the user. Looks
// only; never opens a device, since opening one can move its modem lines.
class SerialDeviceCatalog
{
public:
    virtual ~SerialDeviceCatalog() = default;

    virtual QList<SerialDeviceInfo> devices() const = 0;
    // Whether a device path names something present now.
    virtual bool exists(const QString &path) const = 0;
};
