#pragma once

#include "platform/serial/serialdevicecatalog.h"

#include <QSet>

#include <algorithm>

// Serial devices the test lists. A device is present when it is in the list
// (by its path or stable path) or in `otherPresentPaths`.
class FakeSerialDeviceCatalog : public SerialDeviceCatalog
{
public:
    QList<SerialDeviceInfo> devices() const override
    {
        ++deviceQueries;
        return list;
    }

    bool exists(const QString &path) const override
    {
        if (otherPresentPaths.contains(path))
            return true;
        return std::any_of(list.cbegin(), list.cend(), [&path](const SerialDeviceInfo &device) {
            return device.path == path || (!device.stablePath.isEmpty() && device.stablePath == path);
        });
    }

    QList<SerialDeviceInfo> list;
    QSet<QString> otherPresentPaths;
    mutable int deviceQueries = 0;
};
