#include "ui/help/helpindex.h"
#include "ui/help/helplocator.h"
#include "support/fakehelpviewer.h"
#include "support/fakemessages.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// Help > Index: the page found is handed to the viewer; a page found nowhere,
// or a viewer that does not open it, is reported with the places concerned.
class HelpIndexTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void foundPageIsOpenedInTheViewerWithoutMessage();
    void missingPageGivesOneMessageNamingEveryPlaceLookedAt();
    void viewerThatCannotOpenThePageGivesMessageNamingIt();
    void missingViewerGivesMessageNamingThePage();

private:
    HelpLocator locatorFor(const QString &root) const;

    QTemporaryDir m_root;
    FakeHelpViewer m_viewer;
    FakeMessages m_messages;
    QString m_page;
    QString m_sourcePage;
};

void HelpIndexTest::init()
{
    m_viewer.shown.clear();
    m_viewer.opens = true;
    m_messages.shown.clear();
    QVERIFY(m_root.isValid());
    QVERIFY(QDir().mkpath(m_root.filePath(QStringLiteral("bin"))));
    m_page = m_root.filePath(QStringLiteral("share/zelvo-footswitch2/help/index.html"));
    m_sourcePage = m_root.filePath(QStringLiteral("source/index.html"));
    QFile::remove(m_page);
}

HelpLocator HelpIndexTest::locatorFor(const QString &root) const
{
    const QString programDir = QDir(root).filePath(QStringLiteral("bin"));
    return HelpLocator(programDir, QStringLiteral("../share/zelvo-footswitch2/help/index.html"), programDir, m_sourcePage);
}

void HelpIndexTest::foundPageIsOpenedInTheViewerWithoutMessage()
{
    QVERIFY(QDir().mkpath(QFileInfo(m_page).path()));
    QFile page(m_page);
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.close();

    HelpIndex::show(locatorFor(m_root.path()), &m_viewer, &m_messages);

    QCOMPARE(m_viewer.shown, QStringList{m_page});
    QVERIFY(m_messages.shown.isEmpty());
}

void HelpIndexTest::missingPageGivesOneMessageNamingEveryPlaceLookedAt()
{
    HelpIndex::show(locatorFor(m_root.path()), &m_viewer, &m_messages);

    QVERIFY(m_viewer.shown.isEmpty());
    QCOMPARE(m_messages.shown.size(), 1);
    const QString message = m_messages.shown.first();
    QVERIFY2(message.contains(QStringLiteral("not found")), qPrintable(message));
    QVERIFY2(message.contains(m_page), qPrintable(message));
    QVERIFY2(message.contains(m_sourcePage), qPrintable(message));
}

void HelpIndexTest::viewerThatCannotOpenThePageGivesMessageNamingIt()
{
    QVERIFY(QDir().mkpath(QFileInfo(m_page).path()));
    QFile page(m_page);
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.close();
    m_viewer.opens = false;

    HelpIndex::show(locatorFor(m_root.path()), &m_viewer, &m_messages);

    QCOMPARE(m_viewer.shown, QStringList{m_page});
    QCOMPARE(m_messages.shown.size(), 1);
    QVERIFY2(m_messages.shown.first().contains(QStringLiteral("No viewer")), qPrintable(m_messages.shown.first()));
    QVERIFY2(m_messages.shown.first().contains(m_page), qPrintable(m_messages.shown.first()));
}

void HelpIndexTest::missingViewerGivesMessageNamingThePage()
{
    QVERIFY(QDir().mkpath(QFileInfo(m_page).path()));
    QFile page(m_page);
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.close();

    HelpIndex::show(locatorFor(m_root.path()), nullptr, &m_messages);

    QCOMPARE(m_messages.shown.size(), 1);
    QVERIFY2(m_messages.shown.first().contains(m_page), qPrintable(m_messages.shown.first()));
}

QTEST_GUILESS_MAIN(HelpIndexTest)
#include "tst_helpindex.moc"
