#include "ui/about/sysinfolauncher.h"
#include "platform/process/detachedprogramlauncher.h"
#include "platform/process/nativefileprobe.h"
#include "platform/process/nativeregistryreader.h"
#include "support/fakemessages.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray pathKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";

bool writeFile(const QString &path, const QByteArray &contents, bool executable)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        return false;
    file.close();
    if (executable)
        return file.setPermissions(file.permissions() | QFile::ExeOwner | QFile::ExeUser);
    return true;
}

} // namespace

class TestAboutPlatform : public QObject
{
    Q_OBJECT

private slots:
    void shouldAnswerPathValueWithFirstInstalledTool();
    void shouldReportMissingPathValueWithoutTool();
    void shouldReportEveryOtherKeyMissing_data();
    void shouldReportEveryOtherKeyMissing();
    void shouldRefuseWriteRights();
    void shouldReportLongerPathThanBuffer();
    void shouldGiveToolPathToLookupOne();
    void shouldProbeOnlyVisiblePlainFiles_data();
    void shouldProbeOnlyVisiblePlainFiles();
    void shouldLaunchPathWithSpacesAsOneProgramWithoutArguments();
    void shouldFailToLaunchWhatIsNoProgram_data();
    void shouldFailToLaunchWhatIsNoProgram();

private:
    QTemporaryDir m_dir;
};

void TestAboutPlatform::shouldAnswerPathValueWithFirstInstalledTool()
{
    // The first of the list is there but not executable: not installed.
    QVERIFY(writeFile(m_dir.filePath("hardinfo"), "#!/bin/sh\n", false));
    QVERIFY(writeFile(m_dir.filePath("kinfocenter"), "#!/bin/sh\n", true));
    QVERIFY(writeFile(m_dir.filePath("gnome-system-monitor"), "#!/bin/sh\n", true));
    NativeRegistryReader registry(NativeRegistryReader::defaultTools(), {m_dir.path()});

    RegistryReader::Key key = 0;
    QCOMPARE(registry.open(RegistryReader::LocalMachine, pathKey, RegistryReader::KeyRead, &key), 0L);
    char data[1024] = {};
    quint32 type = 0;
    quint32 size = sizeof data;
    QCOMPARE(registry.query(key, "PATH", &type, data, &size), 0L);
    QCOMPARE(registry.close(key), 0L);

    const QByteArray expected = QFile::encodeName(m_dir.filePath("kinfocenter")) + '\0';
    QCOMPARE(type, RegistryReader::TypeText);
    QCOMPARE(QByteArray(data, int(size)), expected);
    QFile::remove(m_dir.filePath("hardinfo"));
    QFile::remove(m_dir.filePath("kinfocenter"));
    QFile::remove(m_dir.filePath("gnome-system-monitor"));
}

void TestAboutPlatform::shouldReportMissingPathValueWithoutTool()
{
    QTemporaryDir empty;
    NativeRegistryReader registry(NativeRegistryReader::defaultTools(), {empty.path()});

    RegistryReader::Key key = 0;
    QCOMPARE(registry.open(RegistryReader::LocalMachine, pathKey, RegistryReader::KeyRead, &key), 0L);
    char data[1024] = {};
    quint32 type = 0;
    quint32 size = sizeof data;
    QCOMPARE(registry.query(key, "PATH", &type, data, &size), RegistryReader::FileNotFound);
    registry.close(key);
}

void TestAboutPlatform::shouldReportEveryOtherKeyMissing_data()
{
    QTest::addColumn<quint32>("root");
    QTest::addColumn<QByteArray>("subKey");

    QTest::newRow("tool folder key") << RegistryReader::LocalMachine
                                     << QByteArray("SOFTWARE\\Microsoft\\Shared Tools Location");
    QTest::newRow("parent key") << RegistryReader::LocalMachine << QByteArray("SOFTWARE\\Microsoft\\Shared Tools");
    QTest::newRow("same path under current user") << 0x80000001u << pathKey;
}

void TestAboutPlatform::shouldReportEveryOtherKeyMissing()
{
    QFETCH(quint32, root);
    QFETCH(QByteArray, subKey);
    NativeRegistryReader registry;

    RegistryReader::Key key = 0;
    QCOMPARE(registry.open(root, subKey, RegistryReader::KeyRead, &key), RegistryReader::FileNotFound);
}

void TestAboutPlatform::shouldRefuseWriteRights()
{
    NativeRegistryReader registry;

    RegistryReader::Key key = 0;
    QCOMPARE(registry.open(RegistryReader::LocalMachine, pathKey, 0x2003F, &key), RegistryReader::AccessDenied);
    // Names of keys ignore case, as in a real registry.
    QCOMPARE(registry.open(RegistryReader::LocalMachine, pathKey.toLower(), RegistryReader::KeyRead, &key), 0L);
    registry.close(key);
}

void TestAboutPlatform::shouldReportLongerPathThanBuffer()
{
    QVERIFY(writeFile(m_dir.filePath("kinfocenter"), "#!/bin/sh\n", true));
    NativeRegistryReader registry({QStringLiteral("kinfocenter")}, {m_dir.path()});

    RegistryReader::Key key = 0;
    QCOMPARE(registry.open(RegistryReader::LocalMachine, pathKey, RegistryReader::KeyRead, &key), 0L);
    char data[4] = {};
    quint32 type = 0;
    quint32 size = sizeof data;
    QCOMPARE(registry.query(key, "PATH", &type, data, &size), RegistryReader::MoreData);
    QCOMPARE(size, quint32(QFile::encodeName(m_dir.filePath("kinfocenter")).size() + 1));
    registry.close(key);
    QFile::remove(m_dir.filePath("kinfocenter"));
}

void TestAboutPlatform::shouldGiveToolPathToLookupOne()
{
    QVERIFY(writeFile(m_dir.filePath("gnome-system-monitor"), "#!/bin/sh\n", true));
    NativeRegistryReader registry(NativeRegistryReader::defaultTools(), {m_dir.path()});
    FakeMessages messages;
    PlatformServices platform;
    platform.registry = &registry;
    platform.messages = &messages;
    SysInfoLauncher launcher(platform);

    QString toolPath;
    QVERIFY(launcher.GetKeyValue(RegistryReader::LocalMachine, QString::fromLatin1(pathKey), "PATH", toolPath));
    QCOMPARE(toolPath, m_dir.filePath("gnome-system-monitor"));
    QString folder = QStringLiteral("old");
    QVERIFY(!launcher.GetKeyValue(RegistryReader::LocalMachine, "SOFTWARE\\Microsoft\\Shared Tools Location",
                                  "MSINFO", folder));
    QCOMPARE(folder, QString());
    QFile::remove(m_dir.filePath("gnome-system-monitor"));
}

void TestAboutPlatform::shouldProbeOnlyVisiblePlainFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<FileProbe::Result>("expected");

    QTest::newRow("plain file") << "MSINFO32.EXE" << FileProbe::Result::PlainFile;
    QTest::newRow("name with spaces") << "with space/MSINFO32.EXE" << FileProbe::Result::PlainFile;
    QTest::newRow("missing file") << "nothing.exe" << FileProbe::Result::Absent;
    QTest::newRow("in a missing folder") << "nowhere/MSINFO32.EXE" << FileProbe::Result::Absent;
    QTest::newRow("under a plain file") << "MSINFO32.EXE/MSINFO32.EXE" << FileProbe::Result::Absent;
    QTest::newRow("folder") << "with space" << FileProbe::Result::Absent;
    QTest::newRow("hidden file") << ".MSINFO32.EXE" << FileProbe::Result::Absent;
    QTest::newRow("name with a zero") << QStringLiteral("MSINFO32.EXE") + QChar(0) + QStringLiteral("x")
                                      << FileProbe::Result::Rejected;
    QTest::newRow("name too long") << QString(5000, QLatin1Char('a')) << FileProbe::Result::Rejected;
}

void TestAboutPlatform::shouldProbeOnlyVisiblePlainFiles()
{
    QFETCH(QString, name);
    QFETCH(FileProbe::Result, expected);
    QVERIFY(QDir(m_dir.path()).mkpath("with space"));
    QVERIFY(writeFile(m_dir.filePath("MSINFO32.EXE"), "x", false));
    QVERIFY(writeFile(m_dir.filePath("with space/MSINFO32.EXE"), "x", false));
    QVERIFY(writeFile(m_dir.filePath(".MSINFO32.EXE"), "x", false));
    NativeFileProbe files;

    QCOMPARE(files.probe(m_dir.path() + QLatin1Char('/') + name), expected);
}

void TestAboutPlatform::shouldLaunchPathWithSpacesAsOneProgramWithoutArguments()
{
    QVERIFY(QDir(m_dir.path()).mkpath("Program Files/Tool"));
    const QString marker = m_dir.filePath("started");
    // Split at its space, the path would start "Program" with "Files/..."
    // as an argument: a program that would record the wrong count.
    QVERIFY(writeFile(m_dir.filePath("Program"), "#!/bin/sh\necho wrong > '" + QFile::encodeName(marker) + "'\n",
                      true));
    QVERIFY(writeFile(m_dir.filePath("Program Files/Tool/sysinfo"),
                      "#!/bin/sh\necho \"$#\" > '" + QFile::encodeName(marker) + ".tmp'\nmv '"
                          + QFile::encodeName(marker) + ".tmp' '" + QFile::encodeName(marker) + "'\n",
                      true));
    DetachedProgramLauncher launcher;

    QVERIFY(launcher.launch(m_dir.filePath("Program Files/Tool/sysinfo")));

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 10000);
    QFile file(marker);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().trimmed(), QByteArray("0"));
}

void TestAboutPlatform::shouldFailToLaunchWhatIsNoProgram_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("empty path") << QString();
    QTest::newRow("missing file") << m_dir.filePath("nothing");
    QTest::newRow("folder") << m_dir.path();
    QTest::newRow("file that is not executable") << m_dir.filePath("MSINFO32.EXE");
}

void TestAboutPlatform::shouldFailToLaunchWhatIsNoProgram()
{
    QFETCH(QString, name);
    QVERIFY(writeFile(m_dir.filePath("MSINFO32.EXE"), "x", false));
    DetachedProgramLauncher launcher;

    QVERIFY(!launcher.launch(name));
}

QTEST_GUILESS_MAIN(TestAboutPlatform)
#include "tst_aboutplatform.moc"
