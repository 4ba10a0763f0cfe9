#include "core/storedportmappings.h"
#include "platform/serial/serialportdevice.h"
#include "platform/serial/systemserialports.h"
#include "platform/storage/qsettingsstore.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// Port mappings as a user may write them by hand in the settings file. What
// the Settings window refuses too is in tst_settingswindow, through both.
class tst_SystemSerialPorts : public QObject
{
    Q_OBJECT

private slots:
    void shouldRefuseGarbageMappingNamingIt_data();
    void shouldRefuseGarbageMappingNamingIt();
};

void tst_SystemSerialPorts::shouldRefuseGarbageMappingNamingIt_data()
{
    QTest::addColumn<QString>("mapping");
    QTest::newRow("no such device") << QStringLiteral("/nonexistent/zelvo-port");
    QTest::newRow("network without a port") << QStringLiteral("rfc2217://radio.example");
    QTest::newRow("network port out of range") << QStringLiteral("rfc2217://127.0.0.1:99999");
    QTest::newRow("network with a path") << QStringLiteral("rfc2217://127.0.0.1:2217/x");
    QTest::newRow("TLS without a host") << QStringLiteral("rfc2217+tls://:2217");
}

void tst_SystemSerialPorts::shouldRefuseGarbageMappingNamingIt()
{
    QFETCH(QString, mapping);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString file = folder.filePath(QStringLiteral("settings.conf"));
    {
        QSettings settings(file, QSettings::IniFormat);
        settings.setValue(QStringLiteral("Ports/Com4"), mapping);
    }
    QSettingsStore store(file);
    StoredPortMappings mappings(store);
    SystemSerialPorts ports(mappings);
    QCOMPARE(ports.location(4), mapping);
    std::unique_ptr<SerialPortDevice> device = ports.create(4);
    QVERIFY(device);
    QVERIFY(!device->open(false));
    QCOMPARE(device->failure(), SerialPortDevice::Failure::OpenFailed);
    // The user must be able to find the value that is wrong.
    QVERIFY2(device->errorString().contains(mapping.left(40)), qPrintable(device->errorString()));
}

QTEST_GUILESS_MAIN(tst_SystemSerialPorts)
#include "tst_systemserialports.moc"
