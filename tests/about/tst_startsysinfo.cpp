#include "ui/about/sysinfolauncher.h"
#include "support/fakeplatform.h"

#include <QTest>

namespace {

const QByteArray pathKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const QByteArray folderKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
const QString unavailable = QStringLiteral("System Information Is Unavailable At This Time");

bool triedFolderLookup(const FakePlatform &platform)
{
    return platform.registry.log.contains(QStringLiteral("open ") + QString::fromLatin1(folderKey));
}

} // namespace

class TestStartSysInfo : public QObject
{
    Q_OBJECT

private slots:
    void shouldLaunchFoundToolOrShowOneMessage_data();
    void shouldLaunchFoundToolOrShowOneMessage();
    void shouldNotTryFolderWhenPathValueHasAnotherType();
    void shouldNotTryFolderWhenPathValueIsEmpty();
    void shouldStartAfreshOnEveryCall();
};

void TestStartSysInfo::shouldLaunchFoundToolOrShowOneMessage_data()
{
    // A null text stands for a value that is not there.
    QTest::addColumn<QString>("toolPath");
    QTest::addColumn<QString>("toolFolder");
    QTest::addColumn<FileProbe::Result>("candidate");
    QTest::addColumn<bool>("launchWorks");
    QTest::addColumn<QStringList>("expectedProbes");
    QTest::addColumn<QStringList>("expectedLaunches");
    QTest::addColumn<bool>("expectMessage");

    const QString programFiles = QStringLiteral("C:\\Program Files\\Common Files\\Microsoft Shared\\MSInfo\\msinfo32.exe");
    const QString inTools = QStringLiteral("C:\\Tools\\MSINFO32.EXE");

    QTest::newRow("path value wins without a look")
        << programFiles << "C:\\Tools" << FileProbe::Result::PlainFile << true << QStringList()
        << QStringList{programFiles} << false;
    QTest::newRow("path value that does not start: no folder lookup")
        << "C:\\nowhere.exe" << "C:\\Tools" << FileProbe::Result::PlainFile << false << QStringList()
        << QStringList{"C:\\nowhere.exe"} << true;
    QTest::newRow("folder holding the tool")
        << QString() << "C:\\Tools" << FileProbe::Result::PlainFile << true << QStringList{inTools}
        << QStringList{inTools} << false;
    QTest::newRow("folder ending in a backslash")
        << QString() << "C:\\Tools\\" << FileProbe::Result::PlainFile << true
        << QStringList{"C:\\Tools\\\\MSINFO32.EXE"} << QStringList{"C:\\Tools\\\\MSINFO32.EXE"} << false;
    QTest::newRow("folder without the tool")
        << QString() << "C:\\Tools" << FileProbe::Result::Absent << true << QStringList{inTools} << QStringList()
        << true;
    QTest::newRow("folder name the file system rejects")
        << QString() << "C:\\To|ols" << FileProbe::Result::Rejected << true
        << QStringList{"C:\\To|ols\\MSINFO32.EXE"} << QStringList() << true;
    QTest::newRow("tool in folder that does not start")
        << QString() << "C:\\Tools" << FileProbe::Result::PlainFile << false << QStringList{inTools}
        << QStringList{inTools} << true;
    QTest::newRow("neither value") << QString() << QString() << FileProbe::Result::PlainFile << true << QStringList()
                                   << QStringList() << true;
}

void TestStartSysInfo::shouldLaunchFoundToolOrShowOneMessage()
{
    QFETCH(QString, toolPath);
    QFETCH(QString, toolFolder);
    QFETCH(FileProbe::Result, candidate);
    QFETCH(bool, launchWorks);
    QFETCH(QStringList, expectedProbes);
    QFETCH(QStringList, expectedLaunches);
    QFETCH(bool, expectMessage);
    FakePlatform platform;
    if (!toolPath.isNull())
        platform.registry.setText(pathKey, "PATH", toolPath);
    if (!toolFolder.isNull())
        platform.registry.setText(folderKey, "MSINFO", toolFolder);
    platform.files.files.insert(toolFolder + QStringLiteral("\\MSINFO32.EXE"), candidate);
    platform.launcher.works = launchWorks;
    SysInfoLauncher launcher(platform.services());

    launcher.StartSysInfo();

    QCOMPARE(platform.files.probed, expectedProbes);
    QCOMPARE(platform.launcher.launched, expectedLaunches);
    QCOMPARE(platform.messages.shown, expectMessage ? QStringList{unavailable} : QStringList());
    QCOMPARE(triedFolderLookup(platform), toolPath.isNull());
    QCOMPARE(platform.registry.openKeys(), 0);
}

void TestStartSysInfo::shouldNotTryFolderWhenPathValueHasAnotherType()
{
    FakePlatform platform;
    platform.registry.set(pathKey, "PATH", 2, QByteArray("%ProgramFiles%\\msinfo32.exe").append('\0'));
    platform.registry.setText(folderKey, "MSINFO", QStringLiteral("C:\\Tools"));
    platform.files.files.insert(QStringLiteral("C:\\Tools\\MSINFO32.EXE"), FileProbe::Result::PlainFile);
    SysInfoLauncher launcher(platform.services());

    launcher.StartSysInfo();

    // The read counts, the tool path stays empty and nothing starts.
    QCOMPARE(platform.launcher.launched, QStringList{QString()});
    QCOMPARE(platform.messages.shown, QStringList{unavailable});
    QVERIFY(!triedFolderLookup(platform));
}

void TestStartSysInfo::shouldNotTryFolderWhenPathValueIsEmpty()
{
    FakePlatform platform;
    platform.registry.set(pathKey, "PATH", RegistryReader::TypeText, QByteArray());
    platform.registry.setText(folderKey, "MSINFO", QStringLiteral("C:\\Tools"));
    platform.files.files.insert(QStringLiteral("C:\\Tools\\MSINFO32.EXE"), FileProbe::Result::PlainFile);
    SysInfoLauncher launcher(platform.services());

    launcher.StartSysInfo();

    QCOMPARE(platform.launcher.launched, QStringList{QString()});
    QCOMPARE(platform.messages.shown, QStringList{unavailable});
    QVERIFY(!triedFolderLookup(platform));
}

void TestStartSysInfo::shouldStartAfreshOnEveryCall()
{
    FakePlatform platform;
    const QString tool = QStringLiteral("C:\\Program Files\\msinfo32.exe");
    platform.registry.setText(pathKey, "PATH", tool);
    SysInfoLauncher launcher(platform.services());
    launcher.StartSysInfo();

    // A value of a type the launcher does not read leaves the path as it
    // was before the read: empty, unless the previous call's path was kept.
    platform.registry.set(pathKey, "PATH", 2, QByteArray("%ProgramFiles%\\msinfo32.exe").append('\0'));
    launcher.StartSysInfo();

    QCOMPARE(platform.launcher.launched, (QStringList{tool, QString()}));
    QCOMPARE(platform.messages.shown, QStringList{unavailable});
}

QTEST_GUILESS_MAIN(TestStartSysInfo)
#include "tst_startsysinfo.moc"
