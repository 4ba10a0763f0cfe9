#include "core/serialline.h"
#include "support/fakeserialports.h"

#include <QTest>

class tst_SerialLine : public QObject
{
    Q_OBJECT

private slots:
    void shouldRefuseSelectWhileOpen();
    void shouldApplyRecordedRtsAtOpen();
    void shouldRefuseSecondOpenOfSamePort();
    void shouldFailCtsReadOnClosedPort();
    void shouldDriveRtsLowOnCloseButKeepRecordedState();
    void shouldIgnoreCloseOfClosedPort();
    void shouldCloseItselfWhenDeviceIsLost();
    void shouldStayOpenWhenLineOperationIsRefused();
    void shouldFailOpenOfNumberWithoutPort();
    void shouldReleaseAndDisarmBeforeClosing_data();
    void shouldReleaseAndDisarmBeforeClosing();
};

static SerialLineError::Kind failureOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const SerialLineError &error) {
        return error.kind();
    }
    qFatal("no failure raised");
}

void tst_SerialLine::shouldRefuseSelectWhileOpen()
{
    FakeSerialPorts ports;
    SerialLine line(ports);
    line.select(3);
    line.open();
    QCOMPARE(failureOf([&] { line.select(4); }), SerialLineError::Kind::PortOpen);
    QCOMPARE(line.portNumber(), qint16(3));
    line.close();
    line.select(4);
    QCOMPARE(line.portNumber(), qint16(4));
}

void tst_SerialLine::shouldApplyRecordedRtsAtOpen()
{
    FakeSerialPorts ports;
    SerialLine line(ports);
    line.select(2);
    line.setRtsEnabled(true);
    QVERIFY(!ports.line(2)->rts);
    line.open();
    QVERIFY(ports.line(2)->rts);
    QCOMPARE(ports.log, QStringList{QStringLiteral("open 2 rts=1")});
}

void tst_SerialLine::shouldRefuseSecondOpenOfSamePort()
{
    FakeSerialPorts ports;
    SerialLine first(ports);
    SerialLine second(ports);
    first.open();
    QCOMPARE(failureOf([&] { second.open(); }), SerialLineError::Kind::OpenFailed);
    QVERIFY(!second.isOpen());
    QVERIFY(first.isOpen());
}

void tst_SerialLine::shouldFailCtsReadOnClosedPort()
{
    FakeSerialPorts ports;
    SerialLine line(ports);
    ports.line(1)->cts = false;
    // A released switch and a port that cannot be read must not look alike.
    QCOMPARE(failureOf([&] { line.ctsHolding(); }), SerialLineError::Kind::NotOpen);
}

void tst_SerialLine::shouldDriveRtsLowOnCloseButKeepRecordedState()
{
    FakeSerialPorts ports;
    SerialLine line(ports);
    line.open();
    line.setRtsEnabled(true);
    line.close();
    QVERIFY(!ports.line(1)->rts);
    QVERIFY(!ports.line(1)->open);
    QVERIFY(line.rtsEnabled());
    line.open();
    QVERIFY(ports.line(1)->rts);
}

void tst_SerialLine::shouldIgnoreCloseOfClosedPort()
{
    FakeSerialPorts ports;
    SerialLine line(ports);
    line.close();
    QVERIFY(ports.log.isEmpty());
}

void tst_SerialLine::shouldCloseItselfWhenDeviceIsLost()
{
    FakeSerialPorts ports;
    SerialLine line(ports);
    line.open();
    ports.line(1)->gone = true;
    QCOMPARE(failureOf([&] { line.ctsHolding(); }), SerialLineError::Kind::DeviceLost);
    QVERIFY(!line.isOpen());
    QVERIFY(!ports.line(1)->open);
    // Closed now: a write only records, a read fails as on any closed port.
    line.setRtsEnabled(true);
    QCOMPARE(failureOf([&] { line.ctsHolding(); }), SerialLineError::Kind::NotOpen);
}

void tst_SerialLine::shouldStayOpenWhenLineOperationIsRefused()
{
    FakeSerialPorts ports;
    SerialLine line(ports);
    line.open();
    ports.line(1)->refuseRts = true;
    QCOMPARE(failureOf([&] { line.setRtsEnabled(true); }), SerialLineError::Kind::LineFailed);
    QVERIFY(line.isOpen());
}

void tst_SerialLine::shouldFailOpenOfNumberWithoutPort()
{
    FakeSerialPorts ports;
    SerialLine line(ports);
    line.select(0);
    QCOMPARE(failureOf([&] { line.open(); }), SerialLineError::Kind::OpenFailed);
}

void tst_SerialLine::shouldReleaseAndDisarmBeforeClosing_data()
{
    QTest::addColumn<int>("refusals");
    QTest::addColumn<bool>("lost");
    QTest::addColumn<int>("writes");
    QTest::newRow("taken") << 0 << false << 1;
    QTest::newRow("refused once") << 1 << false << 2;
    QTest::newRow("refused twice: no third try") << 2 << false << 2;
    QTest::newRow("device lost") << 0 << true << 0;
}

void tst_SerialLine::shouldReleaseAndDisarmBeforeClosing()
{
    QFETCH(int, refusals);
    QFETCH(bool, lost);
    QFETCH(int, writes);
    FakeSerialPorts ports;
    SerialLine line(ports);
    line.open();
    line.setRtsEnabled(true);
    FatalSignalRelease::arm(line.crashRelease(), 2);
    ports.line(1)->refuseRtsWrites = refusals;
    ports.line(1)->gone = lost;
    if (lost)
        QCOMPARE(failureOf([&] { line.ctsHolding(); }), SerialLineError::Kind::DeviceLost);
    else
        line.close();
    QCOMPARE(ports.log.count(QStringLiteral("rts 1=0")), writes);
    QVERIFY(!ports.line(1)->open && !ports.line(1)->closedArmed);
    QCOMPARE(FatalSignalRelease::armedDescriptor(2), -1);
}

QTEST_GUILESS_MAIN(tst_SerialLine)
#include "tst_serialline.moc"
