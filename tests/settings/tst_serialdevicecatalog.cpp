#include "platform/serial/qserialdevicecatalog.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/inotify.h>
#include <unistd.h>

// The catalog reads a sysfs and /dev tree built here, shaped as the kernel
// and udev lay them out, so what it makes of real hardware can be checked on
// a machine without any.
class tst_SerialDeviceCatalog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void shouldListPresentDevicesWithTheirMakersStrings();
    void shouldPreferNoLinkWhenByIdFolderIsMissing();
    void shouldFollowLinksToTellPresence();
    void shouldNeverOpenADevice();

private:
    void makeFolder(const QString &path);
    void writeFile(const QString &path, const QByteArray &content);
    void link(const QString &target, const QString &linkPath);
    // A tty under /sys/class/tty whose parent device is `deviceFolder` (none: a virtual terminal).
    void addTty(const QString &name, const QString &deviceFolder, const QByteArray &uartType = {});

    std::unique_ptr<QTemporaryDir> m_root;
    QString m_sys;
    QString m_dev;
};

void tst_SerialDeviceCatalog::makeFolder(const QString &path)
{
    QVERIFY(QDir().mkpath(path));
}

void tst_SerialDeviceCatalog::writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(content);
}

void tst_SerialDeviceCatalog::link(const QString &target, const QString &linkPath)
{
    QVERIFY2(QFile::link(target, linkPath), qPrintable(linkPath));
}

void tst_SerialDeviceCatalog::addTty(const QString &name, const QString &deviceFolder, const QByteArray &uartType)
{
    const QString folder = m_sys + QStringLiteral("/class/tty/") + name;
    makeFolder(folder);
    if (!deviceFolder.isEmpty())
        link(deviceFolder, folder + QStringLiteral("/device"));
    if (!uartType.isEmpty())
        writeFile(folder + QStringLiteral("/type"), uartType + '\n');
}

void tst_SerialDeviceCatalog::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    m_sys = m_root->filePath(QStringLiteral("sys"));
    m_dev = m_root->filePath(QStringLiteral("dev"));
    makeFolder(m_dev);

    // A USB adapter: the strings sit on the USB device, two levels above the port.
    const QString usb = m_sys + QStringLiteral("/devices/pci0000:00/usb1/1-1");
    makeFolder(usb + QStringLiteral("/1-1:1.0/ttyUSB0"));
    writeFile(usb + QStringLiteral("/idVendor"), "0403\n");
    writeFile(usb + QStringLiteral("/product"), "FT232R USB UART\n");
    writeFile(usb + QStringLiteral("/manufacturer"), "FTDI\n");
    writeFile(usb + QStringLiteral("/serial"), "A50285BI\n");
    addTty(QStringLiteral("ttyUSB0"), usb + QStringLiteral("/1-1:1.0/ttyUSB0"));
    writeFile(m_dev + QStringLiteral("/ttyUSB0"), {});

    // A modem-class device without a serial number.
    const QString acm = m_sys + QStringLiteral("/devices/pci0000:00/usb1/1-2");
    makeFolder(acm + QStringLiteral("/1-2:1.0"));
    writeFile(acm + QStringLiteral("/idVendor"), "1a86\n");
    writeFile(acm + QStringLiteral("/product"), "Rig interface\n");
    addTty(QStringLiteral("ttyACM0"), acm + QStringLiteral("/1-2:1.0"));
    writeFile(m_dev + QStringLiteral("/ttyACM0"), {});

    // Built-in UART slots: one with a chip behind it, one without.
    const QString platform = m_sys + QStringLiteral("/devices/platform/serial8250");
    makeFolder(platform + QStringLiteral("/port0"));
    makeFolder(platform + QStringLiteral("/port1"));
    addTty(QStringLiteral("ttyS0"), platform + QStringLiteral("/port0"), "4");
    addTty(QStringLiteral("ttyS1"), platform + QStringLiteral("/port1"), "0");
    writeFile(m_dev + QStringLiteral("/ttyS0"), {});
    writeFile(m_dev + QStringLiteral("/ttyS1"), {});

    // A virtual terminal has no parent device.
    addTty(QStringLiteral("tty0"), {});
    writeFile(m_dev + QStringLiteral("/tty0"), {});

    // The kernel knows a port that has no device node here (as in a container).
    makeFolder(usb + QStringLiteral("/1-1:1.0/ttyUSB1"));
    addTty(QStringLiteral("ttyUSB1"), usb + QStringLiteral("/1-1:1.0/ttyUSB1"));
}

void tst_SerialDeviceCatalog::shouldListPresentDevicesWithTheirMakersStrings()
{
    makeFolder(m_dev + QStringLiteral("/serial/by-id"));
    const QString stable = m_dev + QStringLiteral("/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    // udev makes relative links.
    link(QStringLiteral("../../ttyUSB0"), stable);
    link(QStringLiteral("../../ttyUSB7"), m_dev + QStringLiteral("/serial/by-id/usb-gone-if00-port0"));

    const QSerialDeviceCatalog catalog(m_sys, m_dev);
    const QList<SerialDeviceInfo> expected = {
        {m_dev + QStringLiteral("/ttyACM0"), {}, QStringLiteral("Rig interface"), {}, {}},
        {m_dev + QStringLiteral("/ttyS0"), {}, {}, {}, {}},
        {m_dev + QStringLiteral("/ttyUSB0"), stable, QStringLiteral("FT232R USB UART"), QStringLiteral("FTDI"),
         QStringLiteral("A50285BI")},
    };
    const QList<SerialDeviceInfo> found = catalog.devices();
    QCOMPARE(found.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QCOMPARE(found[i].path, expected[i].path);
        QCOMPARE(found[i].stablePath, expected[i].stablePath);
        QCOMPARE(found[i].description, expected[i].description);
        QCOMPARE(found[i].manufacturer, expected[i].manufacturer);
        QCOMPARE(found[i].serialNumber, expected[i].serialNumber);
    }
}

void tst_SerialDeviceCatalog::shouldPreferNoLinkWhenByIdFolderIsMissing()
{
    const QSerialDeviceCatalog catalog(m_sys, m_dev);
    const QList<SerialDeviceInfo> found = catalog.devices();
    QCOMPARE(found.size(), 3);
    for (const SerialDeviceInfo &device : found)
        QVERIFY2(device.stablePath.isEmpty(), qPrintable(device.stablePath));
}

void tst_SerialDeviceCatalog::shouldFollowLinksToTellPresence()
{
    makeFolder(m_dev + QStringLiteral("/serial/by-id"));
    link(QStringLiteral("../../ttyUSB0"), m_dev + QStringLiteral("/serial/by-id/present"));
    link(QStringLiteral("../../ttyUSB7"), m_dev + QStringLiteral("/serial/by-id/unplugged"));

    const QSerialDeviceCatalog catalog(m_sys, m_dev);
    QVERIFY(catalog.exists(m_dev + QStringLiteral("/ttyUSB0")));
    QVERIFY(catalog.exists(m_dev + QStringLiteral("/serial/by-id/present")));
    QVERIFY(!catalog.exists(m_dev + QStringLiteral("/serial/by-id/unplugged")));
    QVERIFY(!catalog.exists(m_dev + QStringLiteral("/ttyUSB9")));
}

void tst_SerialDeviceCatalog::shouldNeverOpenADevice()
{
    makeFolder(m_dev + QStringLiteral("/serial/by-id"));
    link(QStringLiteral("../../ttyUSB0"), m_dev + QStringLiteral("/serial/by-id/adapter"));
    // The kernel queues an event for every open of a file in the watched
    // folder at the moment it happens, so reading them afterwards misses none.
    const int watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(watcher >= 0);
    const auto closeWatcher = qScopeGuard([watcher] { ::close(watcher); });
    QVERIFY(inotify_add_watch(watcher, QFile::encodeName(m_dev).constData(), IN_OPEN) >= 0);

    const QSerialDeviceCatalog catalog(m_sys, m_dev);
    QCOMPARE(catalog.devices().size(), 3);
    QVERIFY(catalog.exists(m_dev + QStringLiteral("/ttyUSB0")));
    QVERIFY(catalog.exists(m_dev + QStringLiteral("/serial/by-id/adapter")));

    QStringList opened;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t length = ::read(watcher, buffer, sizeof buffer);
        if (length <= 0)
            break;
        for (ssize_t at = 0; at < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (!(event->mask & IN_ISDIR) && event->len > 0)
                opened.append(QString::fromLocal8Bit(event->name));
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    QCOMPARE(opened, QStringList());
}

QTEST_GUILESS_MAIN(tst_SerialDeviceCatalog)
#include "tst_serialdevicecatalog.moc"
