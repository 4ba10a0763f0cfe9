#include "platform/net/networkserialport.h"
#include "pseudoterminal.h"
#include "ser2netprocess.h"

#include <QElapsedTimer>
#include <QTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {
// The line settings ser2net has put on the pseudo-terminal.
struct LineSettings
{
    bool valid = false;
    speed_t speed = 0;
    tcflag_t dataBits = 0;
    bool parity = true;
    bool twoStopBits = true;
    bool hardwareFlow = true;
};

LineSettings lineSettingsOf(const QString &path)
{
    LineSettings settings;
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return settings;
    termios attributes{};
    if (::tcgetattr(fd, &attributes) == 0) {
        settings.valid = true;
        settings.speed = ::cfgetospeed(&attributes);
        settings.dataBits = attributes.c_cflag & CSIZE;
        settings.parity = attributes.c_cflag & PARENB;
        settings.twoStopBits = attributes.c_cflag & CSTOPB;
        settings.hardwareFlow = attributes.c_cflag & CRTSCTS;
    }
    ::close(fd);
    return settings;
}
}

// Against ser2net, a device server written independently of pyserial: it
// negotiates in its own order, and on a pseudo-terminal it has no modem
// lines, so it never answers an RTS change.
class TestSer2netSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void shouldNegotiateAndSetTheLineTo9600EightNoneOne()
    {
        PseudoTerminal terminal;
        QVERIFY(terminal.isValid());
        Ser2netProcess server;
        // Configured for other line settings, so that ours must be applied.
        QVERIFY2(server.start(terminal.slavePath(), QStringLiteral("19200e72,rtscts,local")), qPrintable(server.output()));
        NetworkSerialPort port(server.address());
        QVERIFY2(port.open(false), qPrintable(port.errorString() + QLatin1Char('\n') + server.output()));

        const LineSettings settings = lineSettingsOf(terminal.slavePath());
        QVERIFY(settings.valid);
        QCOMPARE(settings.speed, speed_t(B9600));
        QCOMPARE(settings.dataBits, tcflag_t(CS8));
        QVERIFY(!settings.parity);
        QVERIFY(!settings.twoStopBits);
        QVERIFY(!settings.hardwareFlow);
        port.close();
    }

    void shouldDriveRtsWithoutWaitingForAnAnswerThatNeverComes()
    {
        PseudoTerminal terminal;
        QVERIFY(terminal.isValid());
        Ser2netProcess server;
        QVERIFY2(server.start(terminal.slavePath(), QStringLiteral("9600n81,local")), qPrintable(server.output()));
        NetworkSerialPort port(server.address());
        QElapsedTimer timer;
        timer.start();
        QVERIFY2(port.open(true), qPrintable(port.errorString() + QLatin1Char('\n') + server.output()));
        QVERIFY(timer.elapsed() < NetworkSerialPort::OpenTimeoutMs);

        timer.restart();
        for (int i = 0; i < 10; ++i)
            QVERIFY2(port.setRts(i % 2 == 0), qPrintable(port.errorString()));
        bool holding = true;
        QVERIFY2(port.readCts(&holding), qPrintable(port.errorString()));
        QVERIFY(!holding);
        QVERIFY2(timer.elapsed() < 100, qPrintable(QString::number(timer.elapsed())));
        // Still connected and in step after all those unanswered requests.
        QVERIFY2(port.readCts(&holding), qPrintable(port.errorString()));
    }

    void shouldCloseCleanlyAndOpenAgain()
    {
        PseudoTerminal terminal;
        QVERIFY(terminal.isValid());
        Ser2netProcess server;
        QVERIFY2(server.start(terminal.slavePath(), QStringLiteral("9600n81,local")), qPrintable(server.output()));
        NetworkSerialPort port(server.address());
        QVERIFY2(port.open(false), qPrintable(port.errorString() + QLatin1Char('\n') + server.output()));
        QElapsedTimer timer;
        timer.start();
        port.close();
        QVERIFY2(timer.elapsed() < 50, qPrintable(QString::number(timer.elapsed())));
        bool holding = false;
        QVERIFY(!port.readCts(&holding));

        // ser2net takes the device again for the next client once it has
        // let go of the last one; allow it that moment.
        const QDeadlineTimer deadline(5000);
        bool reopened = false;
        while (!(reopened = port.open(false)) && !deadline.hasExpired())
            QTest::qWait(50);
        QVERIFY2(reopened, qPrintable(port.errorString() + QLatin1Char('\n') + server.output()));
    }

    void shouldOutliveTheServersIdleTimeoutOnlyWithAHeartbeat_data()
    {
        QTest::addColumn<bool>("heartbeat");
        QTest::newRow("heartbeat") << true;
        QTest::newRow("no heartbeat") << false;
    }

    void shouldOutliveTheServersIdleTimeoutOnlyWithAHeartbeat()
    {
        // ser2net counts data bytes as activity, not Telnet commands: a
        // client that only holds its lines is dropped after the timeout.
        QFETCH(bool, heartbeat);
        PseudoTerminal terminal;
        QVERIFY(terminal.isValid());
        Ser2netProcess server;
        server.setIdleTimeout(1);
        QVERIFY2(server.start(terminal.slavePath(), QStringLiteral("9600n81,local")), qPrintable(server.output()));
        NetworkSerialPort port(server.address());
        port.setHeartbeat(heartbeat);
        QVERIFY2(port.open(true), qPrintable(port.errorString() + QLatin1Char('\n') + server.output()));
        bool holding = false;
        if (!heartbeat) {
            QTRY_VERIFY_WITH_TIMEOUT(!port.readCts(&holding), 5000);
            QCOMPARE(port.failure(), SerialPortDevice::Failure::DeviceLost);
            return;
        }
        // Outlast the timeout by far: nothing to wait for but time.
        QTest::qWait(3000);
        QVERIFY2(port.readCts(&holding), qPrintable(port.errorString()));
        QVERIFY(port.setRts(false));
    }

};

QTEST_GUILESS_MAIN(TestSer2netSerialPort)
#include "tst_ser2netserialport.moc"
