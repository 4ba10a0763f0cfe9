// FatalSignalRelease in a child process that dies of a fatal signal while
// armed: the relay line must be down afterwards, and the child must still
// have died of that signal. The pseudo-terminal's lines come from the
// modem-line library (preloaded by CTest); the network kinds use a socket
// pair whose far end the test reads.
#include "modemlinesfiles.h"
#include "pseudoterminal.h"

#include "platform/process/alternatesignalstack.h"
#include "platform/process/fatalsignalrelease.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using Kind = SerialPortDevice::CrashRelease::Kind;

namespace {

enum class Death { Raise, BadWrite, StackOverflow, ThreadStackOverflow, Abort };

// Recurses until the stack runs out; the additions keep it from becoming a loop.
int overflowStack(int depth)
{
    volatile char frame[1024];
    frame[0] = char(depth);
    if (depth == -1)
        return 0;
    return overflowStack(depth + 1) + frame[0];
}

[[noreturn]] void die(Death death, int signalNumber)
{
    switch (death) {
    case Death::Raise:
        ::raise(signalNumber);
        break;
    case Death::BadWrite: {
        // A page that may not be touched, rather than a null pointer, which
        // a sanitized build would report and exit from instead of faulting.
        void *page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (page != MAP_FAILED)
            *static_cast<volatile int *>(page) = 1;
        break;
    }
    case Death::StackOverflow:
        overflowStack(0);
        break;
    case Death::ThreadStackOverflow:
        std::thread([] { const AlternateSignalStack stack; overflowStack(0); }).join();
        break;
    case Death::Abort:
        std::abort();
    }
    ::_exit(0); // survived: the parent sees exit status 0
}

// Forks a child that installs the handlers, arms `release` (and disarms it
// again if told to), and `more` in the last output's slot, as a chain of
// outputs would, then dies; returns the child's wait status.
int crashChild(const SerialPortDevice::CrashRelease &release, bool disarm, Death death, int signalNumber,
               const SerialPortDevice::CrashRelease &more = {})
{
    const pid_t child = ::fork();
    if (child == 0) {
        // No core files from the test; the signal is reported all the same.
        const rlimit noCore = {0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        FatalSignalRelease::install();
        FatalSignalRelease::arm(release);
        if (disarm)
            FatalSignalRelease::disarm();
        FatalSignalRelease::arm(more, FatalSignalRelease::slotCount - 1);
        die(death, signalNumber);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return -1;
    return status;
}

} // namespace

class TestFatalSignalRelease : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void dropsTheModemLinesAndDiesOfTheSignal_data();
    void dropsTheModemLinesAndDiesOfTheSignal();
    void sendsTheReleaseBytesToTheFarEnd();
    void shutsTheLinkDown();
    void leavesTheLinesAloneWhenDisarmed();
};

void TestFatalSignalRelease::initTestCase()
{
    if (!ModemLinesFiles::libraryLoaded())
        QSKIP("needs the modem-line library preloaded (LD_PRELOAD=libzelvo_modemlines.so)");
}

void TestFatalSignalRelease::dropsTheModemLinesAndDiesOfTheSignal_data()
{
    QTest::addColumn<Death>("death");
    QTest::addColumn<int>("signalNumber");

    QTest::newRow("SIGSEGV raised") << Death::Raise << SIGSEGV;
    QTest::newRow("SIGBUS raised") << Death::Raise << SIGBUS;
    QTest::newRow("SIGILL raised") << Death::Raise << SIGILL;
    QTest::newRow("SIGFPE raised") << Death::Raise << SIGFPE;
    for (int signalNumber : {SIGQUIT, SIGTRAP, SIGSYS, SIGXCPU, SIGXFSZ})
        QTest::addRow("SIG%s raised", sigabbrev_np(signalNumber)) << Death::Raise << signalNumber;
    QTest::newRow("abort()") << Death::Abort << SIGABRT;
    QTest::newRow("write to a forbidden page") << Death::BadWrite << SIGSEGV;
    QTest::newRow("stack overflow") << Death::StackOverflow << SIGSEGV;
    QTest::newRow("stack overflow on another thread") << Death::ThreadStackOverflow << SIGSEGV;
}

void TestFatalSignalRelease::dropsTheModemLinesAndDiesOfTheSignal()
{
    QFETCH(Death, death);
    QFETCH(int, signalNumber);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    qputenv("ZELVO_MODEMLINES_DIR", QFile::encodeName(dir.path()));
    ModemLinesFiles lines(dir.path());
    // The first output of a chain and its last: both drop at once, the last first.
    PseudoTerminal first;
    PseudoTerminal last;
    QVERIFY(first.isValid() && last.isValid());
    int fds[2];
    for (int i = 0; i < 2; ++i) {
        const PseudoTerminal &pty = i ? last : first;
        QVERIFY(lines.setLine(pty.modemLinesName(), QStringLiteral("RTS"), true));
        QVERIFY(lines.setLine(pty.modemLinesName(), QStringLiteral("DTR"), true));
        fds[i] = ::open(QFile::encodeName(pty.slavePath()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(fds[i] >= 0);
    }

    const int status =
        crashChild({Kind::ModemLines, fds[0], {}}, false, death, signalNumber, {Kind::ModemLines, fds[1], {}});
    ::close(fds[0]);
    ::close(fds[1]);
    QVERIFY2(WIFSIGNALED(status), qPrintable(QStringLiteral("wait status %1").arg(status)));
    QCOMPARE(WTERMSIG(status), signalNumber);
    for (const PseudoTerminal *pty : {&first, &last}) {
        QVERIFY(!lines.line(pty->modemLinesName(), QStringLiteral("RTS")));
        QVERIFY(!lines.line(pty->modemLinesName(), QStringLiteral("DTR")));
    }
    const auto droppedAt = [&lines](const PseudoTerminal &pty) {
        return lines.requests(pty.modemLinesName(), QStringLiteral("bic")).at(0)[u"t"].toInteger();
    };
    QVERIFY2(droppedAt(last) < droppedAt(first), "the first output dropped before the last");
}

void TestFatalSignalRelease::sendsTheReleaseBytesToTheFarEnd()
{
    int sockets[2];
    QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) == 0);
    const QByteArray release("\xff\xfa\x2c\x05\x0c\xff\xf0\xff\xfa\x2c\x05\x09\xff\xf0", 14);

    const int status = crashChild({Kind::SocketBytes, sockets[0], release}, false, Death::Raise, SIGSEGV);
    QVERIFY(WIFSIGNALED(status));
    QCOMPARE(WTERMSIG(status), SIGSEGV);
    char received[64];
    const ssize_t n = ::recv(sockets[1], received, sizeof received, MSG_DONTWAIT);
    QCOMPARE(QByteArray(received, int(qMax<ssize_t>(n, 0))), release);
    ::close(sockets[0]);
    ::close(sockets[1]);
}

void TestFatalSignalRelease::shutsTheLinkDown()
{
    int sockets[2];
    QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) == 0);

    // This process keeps its copy of the child's end open: only a shutdown,
    // not the child's death, ends the stream for the far end.
    const int status = crashChild({Kind::SocketShutdown, sockets[0], {}}, false, Death::Abort, SIGABRT);
    QVERIFY(WIFSIGNALED(status));
    QCOMPARE(WTERMSIG(status), SIGABRT);
    char byte;
    QCOMPARE(::recv(sockets[1], &byte, 1, MSG_DONTWAIT), ssize_t(0));

    // Too many bytes to keep: shut down instead.
    int more[2];
    QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, more) == 0);
    crashChild({Kind::SocketBytes, more[0], QByteArray(200, 'x')}, false, Death::Raise, SIGSEGV);
    QCOMPARE(::recv(more[1], &byte, 1, MSG_DONTWAIT), ssize_t(0));
    for (int fd : {sockets[0], sockets[1], more[0], more[1]})
        ::close(fd);
}

void TestFatalSignalRelease::leavesTheLinesAloneWhenDisarmed()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    qputenv("ZELVO_MODEMLINES_DIR", QFile::encodeName(dir.path()));
    ModemLinesFiles lines(dir.path());
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    QVERIFY(lines.setLine(pty.modemLinesName(), QStringLiteral("RTS"), true));
    const int fd = ::open(QFile::encodeName(pty.slavePath()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(fd >= 0);

    const int status = crashChild({Kind::ModemLines, fd, {}}, true, Death::Raise, SIGSEGV);
    ::close(fd);
    QVERIFY(WIFSIGNALED(status));
    QCOMPARE(WTERMSIG(status), SIGSEGV);
    QVERIFY(lines.line(pty.modemLinesName(), QStringLiteral("RTS")));
    QVERIFY(lines.requests(pty.modemLinesName()).isEmpty());
}

QTEST_GUILESS_MAIN(TestFatalSignalRelease)
#include "tst_fatalsignalrelease.moc"
