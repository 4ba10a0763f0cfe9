#include "platform/storage/qsettingsstore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class tst_QSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void shouldReadAbsentKeyAsEmptyText();
    void shouldWriteTextToFileAtOnce();
    void shouldSeeValuesEditedByAnotherWriter();
    void shouldTellWhetherFileExists();

private:
    QTemporaryDir m_dir;
};

void tst_QSettingsStore::shouldReadAbsentKeyAsEmptyText()
{
    QSettingsStore store(m_dir.filePath(QStringLiteral("absent.conf")));
    QCOMPARE(store.get(QStringLiteral("ComPort")), QString());
}

void tst_QSettingsStore::shouldWriteTextToFileAtOnce()
{
    const QString path = m_dir.filePath(QStringLiteral("write.conf"));
    QSettingsStore store(path);
    store.save(QStringLiteral("Position-Left"), QStringLiteral("1650"));
    store.save(QStringLiteral("ComPort2"), QStringLiteral("7"));

    // Still alive: a crash now must not lose the values.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY2(text.contains("[Settings]"), text.constData());
    QVERIFY2(text.contains("Position-Left=1650"), text.constData());
    QVERIFY2(text.contains("ComPort2=7"), text.constData());
}

void tst_QSettingsStore::shouldSeeValuesEditedByAnotherWriter()
{
    const QString path = m_dir.filePath(QStringLiteral("shared.conf"));
    QSettingsStore reader(path);
    QCOMPARE(reader.get(QStringLiteral("OnTop")), QString());
    QSettingsStore(path).save(QStringLiteral("OnTop"), QStringLiteral("1"));
    QCOMPARE(reader.get(QStringLiteral("OnTop")), QStringLiteral("1"));
}

// A first start (no file yet) asks before opening any port; a store that
// always claimed a file would open the default ports unasked.
void tst_QSettingsStore::shouldTellWhetherFileExists()
{
    const QString path = m_dir.filePath(QStringLiteral("first.conf"));
    QSettingsStore store(path);
    QVERIFY(!store.exists());
    QVERIFY(!QFile::exists(path)); // Reading alone must not create it.
    store.save(QStringLiteral("ComPort"), QStringLiteral("3"));
    QVERIFY(store.exists());
}

QTEST_GUILESS_MAIN(tst_QSettingsStore)
#include "tst_qsettingsstore.moc"
