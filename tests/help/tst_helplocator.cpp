#include "ui/help/helplocator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

// Where the help page is looked for: an installed program finds it in its
// prefix, a program run from the build tree finds the source tree's page,
// and when there is none the places looked at are reported.
class HelpLocatorTest : public QObject
{
    Q_OBJECT

private slots:
    void findsThePageInAnInstallPrefix();
    void installedProgramLooksOnlyInItsPrefix();
    void findsTheSourcePageWhenRunFromTheBuildTree();
    void buildTreeReachedThroughASymbolicLinkCountsAsTheBuildTree();
    void installedPageComesBeforeTheSourcePage();
    void findsNothingAndListsEveryPlaceLookedAt();
    void folderNamedLikeThePageIsNotThePage();

private:
    static void writeFile(const QString &path);
};

void HelpLocatorTest::writeFile(const QString &path)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<html></html>");
}

void HelpLocatorTest::findsThePageInAnInstallPrefix()
{
    // The layout cmake --install makes, built from the install directories
    // the build was configured with rather than from the locator's own rule.
    QTemporaryDir prefix;
    QVERIFY(prefix.isValid());
    const QString programDir = prefix.filePath(QStringLiteral(ZELVO_TEST_BINDIR));
    const QString page = prefix.filePath(QStringLiteral(ZELVO_TEST_DATADIR "/zelvo-footswitch2/help/index.html"));
    QVERIFY(QDir().mkpath(programDir));
    writeFile(page);

    const HelpLocator locator = HelpLocator::forProgramIn(programDir);

    QCOMPARE(QFileInfo(locator.find()).canonicalFilePath(), QFileInfo(page).canonicalFilePath());
}

void HelpLocatorTest::installedProgramLooksOnlyInItsPrefix()
{
    QTemporaryDir prefix;
    QVERIFY(prefix.isValid());
    const QString programDir = prefix.filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(programDir));

    const QStringList places = HelpLocator::forProgramIn(programDir).candidates();

    QCOMPARE(places.size(), 1);
    QVERIFY2(places.first().startsWith(QDir::cleanPath(prefix.path()) + QLatin1Char('/')), qPrintable(places.first()));
    QVERIFY(!places.contains(QDir::cleanPath(QStringLiteral(ZELVO_TEST_SOURCE_DIR "/resources/help/index.html"))));
}

void HelpLocatorTest::findsTheSourcePageWhenRunFromTheBuildTree()
{
    // The program lies at the top of the build tree; its page is the one
    // shipped in the source tree.
    const HelpLocator locator = HelpLocator::forProgramIn(QStringLiteral(ZELVO_TEST_BUILD_DIR));

    QCOMPARE(locator.find(), QDir::cleanPath(QStringLiteral(ZELVO_TEST_SOURCE_DIR "/resources/help/index.html")));
}

void HelpLocatorTest::buildTreeReachedThroughASymbolicLinkCountsAsTheBuildTree()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString build = root.filePath(QStringLiteral("build"));
    const QString linked = root.filePath(QStringLiteral("linked-build"));
    const QString sourcePage = root.filePath(QStringLiteral("source/resources/help/index.html"));
    QVERIFY(QDir().mkpath(build));
    QVERIFY(QFile::link(build, linked));
    writeFile(sourcePage);

    const HelpLocator locator(linked, QStringLiteral("../share/zelvo-footswitch2/help/index.html"), build, sourcePage);

    QCOMPARE(locator.find(), sourcePage);
}

void HelpLocatorTest::installedPageComesBeforeTheSourcePage()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString programDir = root.filePath(QStringLiteral("bin"));
    const QString installedPage = root.filePath(QStringLiteral("share/zelvo-footswitch2/help/index.html"));
    const QString sourcePage = root.filePath(QStringLiteral("source/index.html"));
    QVERIFY(QDir().mkpath(programDir));
    writeFile(installedPage);
    writeFile(sourcePage);

    const HelpLocator locator(programDir, QStringLiteral("../share/zelvo-footswitch2/help/index.html"), programDir, sourcePage);

    QCOMPARE(locator.candidates(), (QStringList{installedPage, sourcePage}));
    QCOMPARE(locator.find(), installedPage);
}

void HelpLocatorTest::findsNothingAndListsEveryPlaceLookedAt()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString programDir = root.filePath(QStringLiteral("bin"));
    const QString sourcePage = root.filePath(QStringLiteral("source/index.html"));
    QVERIFY(QDir().mkpath(programDir));

    const HelpLocator locator(programDir, QStringLiteral("../share/zelvo-footswitch2/help/index.html"), programDir, sourcePage);

    QVERIFY(locator.find().isEmpty());
    QCOMPARE(locator.candidates(),
             (QStringList{root.filePath(QStringLiteral("share/zelvo-footswitch2/help/index.html")), sourcePage}));
}

void HelpLocatorTest::folderNamedLikeThePageIsNotThePage()
{
    QTemporaryDir prefix;
    QVERIFY(prefix.isValid());
    const QString programDir = prefix.filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(programDir));
    QVERIFY(QDir().mkpath(prefix.filePath(QStringLiteral("share/zelvo-footswitch2/help/index.html"))));

    const HelpLocator locator(programDir, QStringLiteral("../share/zelvo-footswitch2/help/index.html"));

    QVERIFY(locator.find().isEmpty());
}

QTEST_GUILESS_MAIN(HelpLocatorTest)
#include "tst_helplocator.moc"
