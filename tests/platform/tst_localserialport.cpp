// LocalSerialPort (QSerialPort) against real pseudo-terminals, with the
// modem-line library of tests/modemlines preloaded (CTest does that). A bare
// pseudo-terminal has no RTS, and the adapter drives RTS as part of every
// open, so without the library there is nothing to test here.
#include "modemlinesfiles.h"
#include "pseudoterminal.h"

#include "platform/serial/localserialport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

using Failure = SerialPortDevice::Failure;

// Root opens a device whatever its mode says: the open runs in a child as
// `user`. Answers the failure and the error text.
static QString openAsUser(const QString &path, const passwd &user)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return {};
    if (::fork() == 0) {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) || ::setgid(user.pw_gid) || ::setuid(user.pw_uid)))
            ::_exit(1);
        LocalSerialPort port(path);
        port.open(false);
        const QByteArray said = QByteArray::number(int(port.failure())) + ' ' + port.errorString().toUtf8();
        ::_exit(::write(channel[1], said.constData(), size_t(said.size())) == said.size() ? 0 : 1);
    }
    ::close(channel[1]);
    QFile reader;
    reader.open(channel[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    const QString said = QString::fromUtf8(reader.readAll());
    ::wait(nullptr);
    return said;
}

class TestLocalSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void opensAPseudoTerminal();
    void refusesAnOpenAndSaysWhy_data();
    void refusesAnOpenAndSaysWhy();
    void refusesTheSameDeviceOpenedUnderASecondName();
    void reopensAfterClose();
    void letsAnotherObjectOpenTheDeviceAfterClose();
    void closingAPortThatIsNotOpenDoesNothing();

    void drivesRtsOnTheLine();
    void appliesRtsAndDtrRightAfterOpen();
    void readsCtsFromTheLine();
    void failsToReadCtsOfAPortThatIsNotOpen();
    void reportsDeviceLostWhenTheDeviceGoesAway();
    void reportsDeviceLostForRtsWhenTheDeviceGoesAway();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PseudoTerminal> m_pty;
    std::unique_ptr<ModemLinesFiles> m_lines;
};

void TestLocalSerialPort::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // The library reads this at every request: each test gets fresh line state.
    qputenv("ZELVO_MODEMLINES_DIR", QFile::encodeName(m_dir->path()));
    m_lines = std::make_unique<ModemLinesFiles>(m_dir->path());
    m_pty = std::make_unique<PseudoTerminal>();
    QVERIFY2(m_pty->isValid(), "no pseudo-terminal");
}

void TestLocalSerialPort::cleanup()
{
    m_pty.reset();
    m_lines.reset();
    m_dir.reset();
}

void TestLocalSerialPort::initTestCase()
{
    if (!ModemLinesFiles::libraryLoaded())
        QSKIP("needs the modem-line library preloaded (LD_PRELOAD=libzelvo_modemlines.so)");
}

void TestLocalSerialPort::opensAPseudoTerminal()
{
    LocalSerialPort port(m_pty->slavePath());
    QVERIFY2(port.open(false), qPrintable(port.errorString()));
    QCOMPARE(port.failure(), Failure::None);
}

void TestLocalSerialPort::refusesAnOpenAndSaysWhy_data()
{
    QTest::addColumn<int>("permissions"); // of the device; -1: there is none
    QTest::addColumn<int>("failure");
    QTest::addColumn<QString>("says");
    QTest::newRow("missing device") << -1 << int(Failure::OpenFailed) << "PATH: no such device";
    QTest::newRow("its group may open it") << int(QFile::ReadGroup | QFile::WriteGroup) << int(Failure::PermissionDenied)
        << "group GROUP; add yourself with \"sudo usermod -aG GROUP USER\", then log out and in again";
    QTest::newRow("only root may open it") << 0 << int(Failure::PermissionDenied)
        << "PATH: no permission to open it, and its group may not open it either";
}

void TestLocalSerialPort::refusesAnOpenAndSaysWhy()
{
    QFETCH(int, permissions);
    QFETCH(int, failure);
    QFETCH(QString, says);
    const passwd *user = ::geteuid() == 0 ? ::getpwnam("nobody") : ::getpwuid(::geteuid());
    const QString path = permissions < 0 ? QStringLiteral("/dev/zelvo-no-such-device") : m_pty->slavePath();
    QVERIFY(user && (permissions < 0 || QFile::setPermissions(path, QFile::Permissions(permissions))));
    const QString said = openAsUser(path, *user);
    says.replace("PATH", path).replace("GROUP", QFileInfo(path).group()).replace("USER", user->pw_name);
    QVERIFY2(said.startsWith(QString::number(failure) + ' ') && said.contains(says), qPrintable(said));
}

void TestLocalSerialPort::refusesTheSameDeviceOpenedUnderASecondName()
{
    const QString link = m_dir->filePath(QStringLiteral("footswitch"));
    QVERIFY(QFile::link(m_pty->slavePath(), link));

    LocalSerialPort first(m_pty->slavePath());
    LocalSerialPort second(link);
    QVERIFY2(first.open(false), qPrintable(first.errorString()));
    QVERIFY(!second.open(false));
    QCOMPARE(second.failure(), Failure::OpenFailed);

    // And the other way round: the link first, the device's own name second.
    first.close();
    QVERIFY2(second.open(false), qPrintable(second.errorString()));
    QVERIFY(!first.open(false));
    QCOMPARE(first.failure(), Failure::OpenFailed);
}

void TestLocalSerialPort::reopensAfterClose()
{
    LocalSerialPort port(m_pty->slavePath());
    QVERIFY(port.open(false));
    port.close();
    QVERIFY2(port.open(false), qPrintable(port.errorString()));
}

void TestLocalSerialPort::letsAnotherObjectOpenTheDeviceAfterClose()
{
    LocalSerialPort first(m_pty->slavePath());
    LocalSerialPort second(m_pty->slavePath());
    QVERIFY(first.open(false));
    QVERIFY(!second.open(false));
    first.close();
    QVERIFY2(second.open(false), qPrintable(second.errorString()));
}

void TestLocalSerialPort::closingAPortThatIsNotOpenDoesNothing()
{
    LocalSerialPort port(m_pty->slavePath());
    port.close();
    port.close();
    QCOMPARE(port.failure(), Failure::None);
    QVERIFY(port.open(false));
    port.close();
    port.close();
    QVERIFY(port.open(false));
}

void TestLocalSerialPort::drivesRtsOnTheLine()
{
    const QString dev = m_pty->modemLinesName();
    LocalSerialPort port(m_pty->slavePath());
    QVERIFY(port.open(false));
    QVERIFY(!m_lines->line(dev, QStringLiteral("RTS")));

    QVERIFY2(port.setRts(true), qPrintable(port.errorString()));
    QVERIFY(m_lines->line(dev, QStringLiteral("RTS")));
    QVERIFY2(port.setRts(false), qPrintable(port.errorString()));
    QVERIFY(!m_lines->line(dev, QStringLiteral("RTS")));
    // One write per call, none behind the caller's back.
    QCOMPARE(m_lines->rtsWrites(dev).size(), 3);
}

void TestLocalSerialPort::appliesRtsAndDtrRightAfterOpen()
{
    const QString dev = m_pty->modemLinesName();
    LocalSerialPort port(m_pty->slavePath());

    QVERIFY2(port.open(true), qPrintable(port.errorString()));
    QVERIFY(m_lines->line(dev, QStringLiteral("RTS")));
    port.close();

    // A line left high (as Linux leaves it while opening) comes down at open.
    QVERIFY(m_lines->setLine(dev, QStringLiteral("RTS"), true));
    const qsizetype before = m_lines->rtsWrites(dev).size();
    QVERIFY2(port.open(false), qPrintable(port.errorString()));
    QVERIFY(!m_lines->line(dev, QStringLiteral("RTS")));
    const QJsonArray writes = m_lines->rtsWrites(dev);
    QCOMPARE(writes.size(), before + 1);
    QCOMPARE(writes.last()[QLatin1String("values")][QLatin1String("RTS")].toInt(-1), 0);

    port.close(); // and DTR, where the open is given its level (a relay on DTR)
    QVERIFY(m_lines->setLine(dev, QStringLiteral("DTR"), true));
    QVERIFY2(port.open(SerialPortDevice::OpenLevels{false, false}), qPrintable(port.errorString()));
    QVERIFY(!m_lines->line(dev, QStringLiteral("DTR")));
}

void TestLocalSerialPort::readsCtsFromTheLine()
{
    const QString dev = m_pty->modemLinesName();
    LocalSerialPort port(m_pty->slavePath());
    QVERIFY(port.open(true));

    bool holding = true;
    QVERIFY2(port.readCts(&holding), qPrintable(port.errorString()));
    QCOMPARE(holding, false);

    QVERIFY(m_lines->setLine(dev, QStringLiteral("CTS"), true));
    QVERIFY2(port.readCts(&holding), qPrintable(port.errorString()));
    QCOMPARE(holding, true);
    // The far end's line is not the port's own output.
    QVERIFY(m_lines->line(dev, QStringLiteral("RTS")));

    QVERIFY(m_lines->setLine(dev, QStringLiteral("CTS"), false));
    QVERIFY(port.readCts(&holding));
    QCOMPARE(holding, false);
}

void TestLocalSerialPort::failsToReadCtsOfAPortThatIsNotOpen()
{
    QVERIFY(m_lines->setLine(m_pty->modemLinesName(), QStringLiteral("CTS"), true));
    LocalSerialPort port(m_pty->slavePath());

    bool holding = false;
    QVERIFY(!port.readCts(&holding));
    QCOMPARE(holding, false); // left alone, not "released"
    QVERIFY(port.failure() != Failure::None);
    QVERIFY(port.failure() != Failure::DeviceLost);

    QVERIFY(port.open(false));
    QVERIFY(port.readCts(&holding));
    QCOMPARE(holding, true);
    port.close();
    holding = false;
    QVERIFY(!port.readCts(&holding));
    QCOMPARE(holding, false);
    QVERIFY(port.failure() != Failure::DeviceLost);
}

void TestLocalSerialPort::reportsDeviceLostWhenTheDeviceGoesAway()
{
    QVERIFY(m_lines->setLine(m_pty->modemLinesName(), QStringLiteral("CTS"), true));
    LocalSerialPort port(m_pty->slavePath());
    QVERIFY(port.open(true));
    bool holding = false;
    QVERIFY(port.readCts(&holding));
    QVERIFY(holding);

    m_pty->closeMaster();
    holding = false;
    QVERIFY(!port.readCts(&holding));
    QCOMPARE(holding, false);
    QCOMPARE(port.failure(), Failure::DeviceLost);
    QVERIFY(!port.errorString().isEmpty());
    // It stays lost.
    QVERIFY(!port.readCts(&holding));
    QCOMPARE(port.failure(), Failure::DeviceLost);
}

void TestLocalSerialPort::reportsDeviceLostForRtsWhenTheDeviceGoesAway()
{
    LocalSerialPort port(m_pty->slavePath());
    QVERIFY(port.open(false));
    m_pty->closeMaster();
    QVERIFY(!port.setRts(true));
    QCOMPARE(port.failure(), Failure::DeviceLost);
}

QTEST_GUILESS_MAIN(TestLocalSerialPort)
#include "tst_localserialport.moc"
