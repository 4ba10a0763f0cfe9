// LineChangeWaiter, and LocalSerialPort's use of it, on pseudo-terminals with
// the modem-line library preloaded (CTest does that): the library emulates
// the driver's wait for a line change (TIOCMIWAIT), or refuses it as a
// cp210x does when ZELVO_MODEMLINES_NO_WAIT is set.
#include "modemlinesfiles.h"
#include "pseudoterminal.h"

#include "platform/serial/linechangewaiter.h"
#include "platform/serial/localserialport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

qsizetype threadCount()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

} // namespace

class TestLineChangeWaiter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void wakesOnAChangeOfAnyInputLine_data();
    void wakesOnAChangeOfAnyInputLine();
    void stopsWhileBlockedInTheDriver();
    void endsByItselfWhenTheDeviceGoesAway();
    void isSupportedOnlyWhereTheDriverReportsChanges();

    void portRunsTheHandlerOnItsOwnThreadAfterAChange();
    void portPollsOnlyWhereTheDriverCannotReportChanges();
    void portWaitsOnlyWhileSomeoneListens();
    void portLeavesNoThreadBehindAfterManyOpens();
    void portOffersItsDescriptorForACrashWhileOpen();

private:
    // Opens the slave as a raw descriptor, as QSerialPort would.
    int openSlave();
    bool waitUntilWaiting(qsizetype waitsBefore);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PseudoTerminal> m_pty;
    std::unique_ptr<ModemLinesFiles> m_lines;
    int m_fd = -1;
};

void TestLineChangeWaiter::initTestCase()
{
    if (!ModemLinesFiles::libraryLoaded())
        QSKIP("needs the modem-line library preloaded (LD_PRELOAD=libzelvo_modemlines.so)");
}

void TestLineChangeWaiter::init()
{
    qunsetenv("ZELVO_MODEMLINES_NO_WAIT");
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("ZELVO_MODEMLINES_DIR", QFile::encodeName(m_dir->path()));
    m_lines = std::make_unique<ModemLinesFiles>(m_dir->path());
    m_pty = std::make_unique<PseudoTerminal>();
    QVERIFY2(m_pty->isValid(), "no pseudo-terminal");
}

void TestLineChangeWaiter::cleanup()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_pty.reset();
    m_lines.reset();
    m_dir.reset();
    qunsetenv("ZELVO_MODEMLINES_NO_WAIT");
}

int TestLineChangeWaiter::openSlave()
{
    m_fd = ::open(QFile::encodeName(m_pty->slavePath()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    return m_fd;
}

// The library logs op=wait once it is watching: a change after that is seen.
bool TestLineChangeWaiter::waitUntilWaiting(qsizetype waitsBefore)
{
    const QString dev = m_pty->modemLinesName();
    return QTest::qWaitFor([&] { return m_lines->requests(dev, QStringLiteral("wait")).size() > waitsBefore; });
}

void TestLineChangeWaiter::wakesOnAChangeOfAnyInputLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("CTS") << QStringLiteral("CTS");
    QTest::newRow("DSR") << QStringLiteral("DSR");
    QTest::newRow("DCD") << QStringLiteral("DCD");
    QTest::newRow("RI") << QStringLiteral("RI");
}

void TestLineChangeWaiter::wakesOnAChangeOfAnyInputLine()
{
    QFETCH(QString, line);
    const QString dev = m_pty->modemLinesName();
    QVERIFY(openSlave() >= 0);
    LineChangeWaiter waiter(m_fd);
    QSignalSpy changed(&waiter, &LineChangeWaiter::linesChanged);
    QVERIFY(waiter.start());

    QVERIFY(waitUntilWaiting(0));
    QVERIFY(m_lines->setLine(dev, line, true));
    QTRY_COMPARE(changed.size(), 1);

    // And again on the way back: it waits afresh after each change.
    QVERIFY(waitUntilWaiting(1));
    QVERIFY(m_lines->setLine(dev, line, false));
    QTRY_COMPARE(changed.size(), 2);
    waiter.stop();
    QVERIFY(!waiter.isRunning());
}

void TestLineChangeWaiter::stopsWhileBlockedInTheDriver()
{
    QVERIFY(openSlave() >= 0);
    const qsizetype threadsBefore = threadCount();
    LineChangeWaiter waiter(m_fd);
    QSignalSpy changed(&waiter, &LineChangeWaiter::linesChanged);
    QVERIFY(waiter.start());
    QVERIFY(waitUntilWaiting(0));
    QCOMPARE(threadCount(), threadsBefore + 1);

    waiter.stop();
    QVERIFY(!waiter.isRunning());
    QCOMPARE(threadCount(), threadsBefore);
    QCOMPARE(changed.size(), 0);
    // Stopped is stopped: a second stop and a restart both work.
    waiter.stop();
    QVERIFY(waiter.start());
    QVERIFY(waitUntilWaiting(1));
    QVERIFY(m_lines->setLine(m_pty->modemLinesName(), QStringLiteral("CTS"), true));
    QTRY_COMPARE(changed.size(), 1);
}

void TestLineChangeWaiter::endsByItselfWhenTheDeviceGoesAway()
{
    QVERIFY(openSlave() >= 0);
    const qsizetype threadsBefore = threadCount();
    LineChangeWaiter waiter(m_fd);
    QSignalSpy changed(&waiter, &LineChangeWaiter::linesChanged);
    QVERIFY(waiter.start());
    QVERIFY(waitUntilWaiting(0));

    m_pty->closeMaster();
    QTRY_COMPARE(threadCount(), threadsBefore);
    QCOMPARE(changed.size(), 0);
    waiter.stop();
}

void TestLineChangeWaiter::isSupportedOnlyWhereTheDriverReportsChanges()
{
    QVERIFY(openSlave() >= 0);
    QVERIFY(LineChangeWaiter::supported(m_fd));
    qputenv("ZELVO_MODEMLINES_NO_WAIT", "1");
    QVERIFY(!LineChangeWaiter::supported(m_fd));
    // As a cp210x: the wait itself is refused too, at once.
    QCOMPARE(::ioctl(m_fd, TIOCMIWAIT, TIOCM_CTS), -1);
    QVERIFY2(errno == ENOTTY || errno == EINVAL, strerror(errno));
    qputenv("ZELVO_MODEMLINES_NO_WAIT", "0");
    QVERIFY(LineChangeWaiter::supported(m_fd));
    // Something that is no serial device at all.
    const int notATty = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    QVERIFY(notATty >= 0);
    QVERIFY(!LineChangeWaiter::supported(notATty));
    ::close(notATty);
}

void TestLineChangeWaiter::portRunsTheHandlerOnItsOwnThreadAfterAChange()
{
    const QString dev = m_pty->modemLinesName();
    LocalSerialPort port(m_pty->slavePath());
    QThread *handlerThread = nullptr;
    bool holding = false;
    int calls = 0;
    port.setLineChangeHandler([&] {
        ++calls;
        handlerThread = QThread::currentThread();
        QVERIFY(port.readCts(&holding));
    });
    QVERIFY2(port.open(false), qPrintable(port.errorString()));
    QVERIFY(port.reportsLineChanges());
    QVERIFY(waitUntilWaiting(0));

    QVERIFY(m_lines->setLine(dev, QStringLiteral("CTS"), true));
    QTRY_VERIFY(holding);
    QCOMPARE(calls, 1);
    QCOMPARE(handlerThread, QThread::currentThread());

    // A handler that closes the port (as the relay does when its read finds
    // the device gone) ends the waiter from within the waiter's own call.
    port.setLineChangeHandler([&] {
        ++calls;
        port.close();
    });
    QVERIFY(waitUntilWaiting(1));
    QVERIFY(m_lines->setLine(dev, QStringLiteral("CTS"), false));
    QTRY_COMPARE(calls, 2);
    QVERIFY(!port.reportsLineChanges());
}

void TestLineChangeWaiter::portPollsOnlyWhereTheDriverCannotReportChanges()
{
    qputenv("ZELVO_MODEMLINES_NO_WAIT", "1");
    const qsizetype threadsBefore = threadCount();
    LocalSerialPort port(m_pty->slavePath());
    port.setLineChangeHandler([] {});
    QVERIFY2(port.open(false), qPrintable(port.errorString()));
    QVERIFY(!port.reportsLineChanges());
    QCOMPARE(threadCount(), threadsBefore);
    // The lines work as ever: polling them is all that is left.
    QVERIFY(m_lines->setLine(m_pty->modemLinesName(), QStringLiteral("CTS"), true));
    bool holding = false;
    QVERIFY(port.readCts(&holding));
    QVERIFY(holding);
}

void TestLineChangeWaiter::portWaitsOnlyWhileSomeoneListens()
{
    const QString dev = m_pty->modemLinesName();
    const qsizetype threadsBefore = threadCount();
    LocalSerialPort port(m_pty->slavePath());
    QVERIFY(port.open(true));
    QVERIFY(port.reportsLineChanges());
    QCOMPARE(threadCount(), threadsBefore);

    int calls = 0;
    port.setLineChangeHandler([&calls] { ++calls; });
    QCOMPARE(threadCount(), threadsBefore + 1);
    QVERIFY(waitUntilWaiting(0));
    QVERIFY(m_lines->setLine(dev, QStringLiteral("DSR"), true));
    QTRY_COMPARE(calls, 1);

    port.setLineChangeHandler({});
    QCOMPARE(threadCount(), threadsBefore);
}

void TestLineChangeWaiter::portLeavesNoThreadBehindAfterManyOpens()
{
    const qsizetype threadsBefore = threadCount();
    {
        LocalSerialPort port(m_pty->slavePath());
        port.setLineChangeHandler([] {});
        // Closing at once catches the thread before or while it enters the
        // driver's wait; closing after the wait has begun, in it.
        for (int i = 0; i < 20; ++i) {
            const qsizetype waits = m_lines->requests(m_pty->modemLinesName(), QStringLiteral("wait")).size();
            QVERIFY2(port.open(i % 2 == 0), qPrintable(port.errorString()));
            QVERIFY(port.reportsLineChanges());
            if (i % 4 == 3)
                QVERIFY(waitUntilWaiting(waits));
            port.close();
            QCOMPARE(threadCount(), threadsBefore);
        }
        // The destructor stops it too.
        QVERIFY(port.open(false));
        QCOMPARE(threadCount(), threadsBefore + 1);
    }
    QCOMPARE(threadCount(), threadsBefore);
}

void TestLineChangeWaiter::portOffersItsDescriptorForACrashWhileOpen()
{
    using Kind = SerialPortDevice::CrashRelease::Kind;
    LocalSerialPort port(m_pty->slavePath());
    QCOMPARE(port.crashRelease().kind, Kind::None);
    QVERIFY(port.open(true));
    const SerialPortDevice::CrashRelease release = port.crashRelease();
    QCOMPARE(release.kind, Kind::ModemLines);
    QVERIFY(release.descriptor >= 0);
    QVERIFY(::isatty(release.descriptor));
    // What the fatal-signal handler will do with it.
    const int outputs = TIOCM_RTS | TIOCM_DTR;
    QCOMPARE(::ioctl(release.descriptor, TIOCMBIC, &outputs), 0);
    QVERIFY(!m_lines->line(m_pty->modemLinesName(), QStringLiteral("RTS")));
    port.close();
    QCOMPARE(port.crashRelease().kind, Kind::None);
}

QTEST_GUILESS_MAIN(TestLineChangeWaiter)
#include "tst_linechangewaiter.moc"
