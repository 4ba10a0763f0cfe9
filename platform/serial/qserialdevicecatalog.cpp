#include "platform/serial/qserialdevicecatalog.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace {

// A sysfs attribute is a short text file; reading one never touches the device.
QString attribute(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(4096)).trimmed();
}

// A port that the serial core knows of but found no UART for reads type 0
// (PORT_UNKNOWN): ttyS1 to ttyS31 on most PCs. Other ttys (USB, ACM) have no
// such attribute.
bool isUnpopulatedUartSlot(const QString &ttyFolder)
{
    const QString typeFile = ttyFolder + QStringLiteral("/type");
    return QFileInfo::exists(typeFile) && attribute(typeFile) == QLatin1String("0");
}

// Walks up from the tty's parent device to the USB device that carries the
// maker's strings, if there is one.
void readUsbStrings(const QString &sysRoot, const QString &deviceFolder, SerialDeviceInfo *info)
{
    const QString devicesRoot = QFileInfo(sysRoot + QStringLiteral("/devices")).canonicalFilePath();
    QDir dir(deviceFolder);
    for (int level = 0; level < 8; ++level) {
        if (dir.exists(QStringLiteral("idVendor"))) {
            info->description = attribute(dir.filePath(QStringLiteral("product")));
            info->manufacturer = attribute(dir.filePath(QStringLiteral("manufacturer")));
            info->serialNumber = attribute(dir.filePath(QStringLiteral("serial")));
            return;
        }
        if (!dir.cdUp() || dir.absolutePath() == devicesRoot || dir.isRoot())
            return;
    }
}

} // namespace

QSerialDeviceCatalog::QSerialDeviceCatalog(const QString &sysRoot, const QString &devRoot)
    : m_sysRoot(sysRoot)
    , m_devRoot(devRoot)
{
}

QList<SerialDeviceInfo> QSerialDeviceCatalog::devices() const
{
    // Where each stable name leads. The folder exists only while udev has
    // made a link in it.
    QHash<QString, QString> stableNames;
    const QDir byId(m_devRoot + QStringLiteral("/serial/by-id"));
    const auto links = byId.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &link : links) {
        const QString target = link.canonicalFilePath();
        if (!target.isEmpty() && !stableNames.contains(target))
            stableNames.insert(target, link.absoluteFilePath());
    }

    QList<SerialDeviceInfo> found;
    const QDir ttys(m_sysRoot + QStringLiteral("/class/tty"));
    const auto names = ttys.entryList(QDir::Dirs | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        const QString ttyFolder = ttys.filePath(name);
        // Virtual terminals, pseudo-terminals and the console have no parent device.
        const QString deviceFolder = QFileInfo(ttyFolder + QStringLiteral("/device")).canonicalFilePath();
        if (deviceFolder.isEmpty() || isUnpopulatedUartSlot(ttyFolder))
            continue;
        SerialDeviceInfo info;
        info.path = m_devRoot + QLatin1Char('/') + name;
        const QString node = QFileInfo(info.path).canonicalFilePath();
        if (node.isEmpty())
            continue; // listed by the kernel but without a device node here
        info.stablePath = stableNames.value(node);
        readUsbStrings(m_sysRoot, deviceFolder, &info);
        found.append(info);
    }

    QCollator collator;
    collator.setNumericMode(true);
    std::sort(found.begin(), found.end(), [&collator](const SerialDeviceInfo &a, const SerialDeviceInfo &b) {
        return collator.compare(a.path, b.path) < 0;
    });
    return found;
}

bool QSerialDeviceCatalog::exists(const QString &path) const
{
    // Follows links, so a stable name whose adapter is unplugged is absent.
    return QFileInfo::exists(path);
}
