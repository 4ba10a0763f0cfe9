#include "ui/about/sysinfolauncher.h"
#include "support/fakeplatform.h"

#include <QTest>

namespace {

const QByteArray toolKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";

QByteArray bytes(std::initializer_list<unsigned char> list)
{
    QByteArray data;
    for (unsigned char byte : list)
        data.append(char(byte));
    return data;
}

} // namespace

class TestGetKeyValue : public QObject
{
    Q_OBJECT

private slots:
    void shouldReadValueByItsType_data();
    void shouldReadValueByItsType();
    void shouldFailWithEmptyTextForValueLongerThanBuffer();
    void shouldFailWithEmptyTextWhenKeyCannotBeOpened();
    void shouldFailWithEmptyTextAndCloseKeyWhenValueIsMissing();
    void shouldOpenKeysWithReadRightsOnly();
    void shouldPassRootKeyAndNamesUnchanged();
};

void TestGetKeyValue::shouldReadValueByItsType_data()
{
    QTest::addColumn<quint32>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("expected");

    QTest::newRow("text with its terminating zero")
        << 1u << QByteArray("C:\\Tools\\MSINFO32.EXE").append('\0') << "old" << "C:\\Tools\\MSINFO32.EXE";
    QTest::newRow("text without terminating zero") << 1u << QByteArray("abc") << "old" << "abc";
    QTest::newRow("text of only the zero") << 1u << QByteArray(1, '\0') << "old" << "";
    QTest::newRow("no data bytes at all") << 1u << QByteArray() << "old" << "";
    QTest::newRow("text filling the whole buffer")
        << 1u << QByteArray(1023, 'a').append('\0') << "" << QString(1023, QLatin1Char('a'));
    QTest::newRow("32-bit with zero top byte") << 4u << bytes({0xB3, 0xA2, 0x01, 0x00}) << "" << "&h01A2B3";
    QTest::newRow("32-bit with all bytes") << 4u << bytes({0x78, 0x56, 0x34, 0x12}) << "" << "&h12345678";
    QTest::newRow("32-bit bytes below 0x10") << 4u << bytes({0x05, 0x0A, 0x00, 0x01}) << "" << "&h01000A05";
    QTest::newRow("32-bit after text held") << 4u << bytes({0x78, 0x56, 0x34, 0x12}) << "x" << "&hx12345678";
    QTest::newRow("expandable text left alone") << 2u << QByteArray("%SystemRoot%\0", 13) << "kept" << "kept";
    QTest::newRow("raw bytes left alone") << 3u << bytes({0x01, 0x02}) << "kept" << "kept";
    QTest::newRow("text list left alone") << 7u << QByteArray("a\0b\0\0", 5) << "" << "";
}

void TestGetKeyValue::shouldReadValueByItsType()
{
    QFETCH(quint32, type);
    QFETCH(QByteArray, data);
    QFETCH(QString, before);
    QFETCH(QString, expected);
    FakePlatform platform;
    platform.registry.set(toolKey, "PATH", type, data);
    SysInfoLauncher launcher(platform.services());

    QString value = before;
    QVERIFY(launcher.GetKeyValue(RegistryReader::LocalMachine, QString::fromLatin1(toolKey), "PATH", value));

    QCOMPARE(value, expected);
    QCOMPARE(platform.registry.openKeys(), 0);
    QVERIFY(platform.messages.shown.isEmpty());
}

void TestGetKeyValue::shouldFailWithEmptyTextForValueLongerThanBuffer()
{
    FakePlatform platform;
    platform.registry.set(toolKey, "PATH", RegistryReader::TypeText, QByteArray(1024, 'a').append('\0'));
    SysInfoLauncher launcher(platform.services());

    QString value = QStringLiteral("old");
    QVERIFY(!launcher.GetKeyValue(RegistryReader::LocalMachine, QString::fromLatin1(toolKey), "PATH", value));

    QCOMPARE(value, QString());
    QCOMPARE(platform.registry.openKeys(), 0);
}

void TestGetKeyValue::shouldFailWithEmptyTextWhenKeyCannotBeOpened()
{
    FakePlatform platform;
    SysInfoLauncher launcher(platform.services());

    QString value = QStringLiteral("old");
    QVERIFY(!launcher.GetKeyValue(RegistryReader::LocalMachine, QString::fromLatin1(toolKey), "PATH", value));

    QCOMPARE(value, QString());
    QCOMPARE(platform.registry.log, QStringList{QStringLiteral("open ") + QString::fromLatin1(toolKey)});
}

void TestGetKeyValue::shouldFailWithEmptyTextAndCloseKeyWhenValueIsMissing()
{
    FakePlatform platform;
    platform.registry.setText(toolKey, "OTHER", QStringLiteral("x"));
    SysInfoLauncher launcher(platform.services());

    QString value = QStringLiteral("old");
    QVERIFY(!launcher.GetKeyValue(RegistryReader::LocalMachine, QString::fromLatin1(toolKey), "PATH", value));

    QCOMPARE(value, QString());
    QCOMPARE(platform.registry.log.last(), QStringLiteral("close"));
    QCOMPARE(platform.registry.openKeys(), 0);
}

void TestGetKeyValue::shouldOpenKeysWithReadRightsOnly()
{
    FakePlatform platform;
    platform.registry.setText(toolKey, "PATH", QStringLiteral("C:\\msinfo32.exe"));
    SysInfoLauncher launcher(platform.services());

    QString value;
    QVERIFY(launcher.GetKeyValue(RegistryReader::LocalMachine, QString::fromLatin1(toolKey), "PATH", value));

    QCOMPARE(platform.registry.accessAsked.size(), 1);
    QCOMPARE(platform.registry.accessAsked.first() & ~RegistryReader::KeyRead, 0u);
    QVERIFY(platform.registry.accessAsked.first() & RegistryReader::KeyQueryValue);
}

void TestGetKeyValue::shouldPassRootKeyAndNamesUnchanged()
{
    FakePlatform platform;
    platform.registry.setText(toolKey, "PATH", QStringLiteral("C:\\msinfo32.exe"));
    SysInfoLauncher launcher(platform.services());

    QString value;
    QVERIFY(!launcher.GetKeyValue(0x80000001, QString::fromLatin1(toolKey), "PATH", value));
    QVERIFY(!launcher.GetKeyValue(RegistryReader::LocalMachine, "SOFTWARE\\Microsoft\\Shared Tools", "PATH", value));
    QVERIFY(launcher.GetKeyValue(RegistryReader::LocalMachine, QString::fromLatin1(toolKey), "PATH", value));
    QCOMPARE(value, QStringLiteral("C:\\msinfo32.exe"));
    QCOMPARE(platform.registry.log.filter(QStringLiteral("query ")), QStringList{QStringLiteral("query PATH")});
}

QTEST_GUILESS_MAIN(TestGetKeyValue)
#include "tst_getkeyvalue.moc"
