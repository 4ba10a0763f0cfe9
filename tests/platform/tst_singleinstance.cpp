#include "platform/process/singleinstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// Long enough for the running one to answer; a failed hand-over ends sooner.
constexpr int answerDeadlineMs = SingleInstance::HandOverTimeoutMs + 1000;

// Runs a second start's hand-over to its end; returns the exit status it
// asks for, or -1 when it never ended.
int handOver(SingleInstance &second)
{
    QSignalSpy handedOver(&second, &SingleInstance::handedOver);
    second.handOver();
    if (!handedOver.wait(answerDeadlineMs))
        return -1;
    return handedOver.first().first().toInt();
}

} // namespace

class tst_SingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void shouldLetOnlyOneRunClaimASettingsFile();
    void shouldRaiseTheRunningOneAndHandOverWithStatus0();
    void shouldAnswerEverySecondStart();
    void shouldTakeOverTheLockAndSocketOfAProgramThatWasKilled();
    void shouldKeepRunsWithOtherSettingsFilesApart();
    void shouldCreateTheSettingsFolderBeforeTheFirstRun();
    void shouldEndASecondStartWithStatus0WhenTheFirstNeverAnswers_data();
    void shouldEndASecondStartWithStatus0WhenTheFirstNeverAnswers();

private:
    QString settingsFile(const QString &folder = QStringLiteral("a")) const
    {
        return m_dir.filePath(folder + QStringLiteral("/Zelvo-Footswitch2/Zelvo-Footswitch2.conf"));
    }

    QTemporaryDir m_dir;
    QTemporaryDir m_runtime;
};

void tst_SingleInstance::init()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(m_runtime.isValid());
    // Sockets go to the user's runtime folder; a test has one of its own.
    QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
}

void tst_SingleInstance::shouldLetOnlyOneRunClaimASettingsFile()
{
    SingleInstance first(settingsFile());
    SingleInstance second(settingsFile());

    QVERIFY(first.claim());
    QVERIFY(!second.claim());
    QCOMPARE(second.serverName(), first.serverName());
}

void tst_SingleInstance::shouldRaiseTheRunningOneAndHandOverWithStatus0()
{
    SingleInstance first(settingsFile());
    QVERIFY(first.claim());
    QSignalSpy raised(&first, &SingleInstance::raiseRequested);
    SingleInstance second(settingsFile());
    QVERIFY(!second.claim());
    QSignalSpy handedOver(&second, &SingleInstance::handedOver);

    second.handOver();
    // Never from within the call: the caller enters its event loop first.
    QCOMPARE(handedOver.size(), 0);

    QVERIFY(handedOver.wait(answerDeadlineMs));
    QCOMPARE(handedOver.first().first().toInt(), 0);
    QCOMPARE(raised.size(), 1);
}

void tst_SingleInstance::shouldAnswerEverySecondStart()
{
    SingleInstance first(settingsFile());
    QVERIFY(first.claim());
    QSignalSpy raised(&first, &SingleInstance::raiseRequested);

    for (int start = 1; start <= 3; ++start) {
        SingleInstance later(settingsFile());
        QVERIFY(!later.claim());
        QCOMPARE(handOver(later), 0);
        QCOMPARE(raised.size(), start);
    }
}

void tst_SingleInstance::shouldTakeOverTheLockAndSocketOfAProgramThatWasKilled()
{
    QString lockFile;
    QString serverName;
    {
        SingleInstance earlier(settingsFile());
        QVERIFY(earlier.claim());
        lockFile = earlier.lockFileName();
        serverName = earlier.serverName();
    }
    // Another process takes the lock, listens and dies without a word, as
    // a killed program does: both files stay behind.
    const pid_t child = fork();
    if (child == 0) {
        QLockFile lock(lockFile);
        QLocalServer server;
        const bool ok = lock.tryLock(0) && server.listen(serverName);
        ::_exit(ok ? 0 : 1);
    }
    int status = -1;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    QVERIFY(QFile::exists(lockFile));
    QVERIFY(QFile::exists(serverName));

    SingleInstance next(settingsFile());
    QVERIFY(next.claim());
    QSignalSpy raised(&next, &SingleInstance::raiseRequested);

    SingleInstance second(settingsFile());
    QVERIFY(!second.claim());
    QCOMPARE(handOver(second), 0);
    QCOMPARE(raised.size(), 1);
}

void tst_SingleInstance::shouldKeepRunsWithOtherSettingsFilesApart()
{
    SingleInstance mine(settingsFile(QStringLiteral("a")));
    SingleInstance theirs(settingsFile(QStringLiteral("b")));

    QVERIFY(mine.claim());
    QVERIFY(theirs.claim());
    QVERIFY(mine.serverName() != theirs.serverName());
}

void tst_SingleInstance::shouldCreateTheSettingsFolderBeforeTheFirstRun()
{
    const QString file = settingsFile(QStringLiteral("fresh"));
    SingleInstance first(file);

    QVERIFY(first.claim());
    QVERIFY(QFile::exists(first.lockFileName()));
    QVERIFY(!QFile::exists(file));
}

void tst_SingleInstance::shouldEndASecondStartWithStatus0WhenTheFirstNeverAnswers_data()
{
    QTest::addColumn<bool>("listens");
    // This test does not return to its event loop while the program runs.
    QTest::newRow("busy: listens, never reads") << true;
    QTest::newRow("holds the lock, never listens") << false;
}

void tst_SingleInstance::shouldEndASecondStartWithStatus0WhenTheFirstNeverAnswers()
{
    QFETCH(bool, listens);
    const QString folder = QStringLiteral("second-%1").arg(listens);
    const QString file = settingsFile(folder);
    QVERIFY(QDir().mkpath(QFileInfo(file).path()));
    {
        // Had the program run as the first copy after all, no port of the
        // machine could have been opened.
        QFile settings(file);
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[Ports]\n");
        for (int port = 1; port <= 9; ++port)
            settings.write(QStringLiteral("Com%1=%2/absent-%1\n").arg(port).arg(m_dir.path()).toUtf8());
    }
    SingleInstance first(file);
    QLockFile lock(first.lockFileName());
    QVERIFY(listens ? first.claim() : lock.tryLock(0));

    QProcess second;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(folder));
    second.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    second.start(QStringLiteral(ZELVO_PROGRAM), {});
    const bool ended = second.waitForFinished(SingleInstance::HandOverTimeoutMs + 5000);
    if (!ended)
        second.kill();
    const QByteArray said = second.readAllStandardError();
    QVERIFY2(ended, said.constData());
    QVERIFY(clock.elapsed() < SingleInstance::HandOverTimeoutMs + 3000);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY2(said.contains("already runs") && said.contains("did not answer"), said.constData());
}

QTEST_GUILESS_MAIN(tst_SingleInstance)
#include "tst_singleinstance.moc"
