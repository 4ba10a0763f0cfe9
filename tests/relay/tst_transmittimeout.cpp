// TransmitTimeout on a fake clock (milliseconds).
#include "core/transmittimeout.h"

#include <QTest>


class TestTransmitTimeout : public QObject
{
    Q_OBJECT

private slots:
    void neverEndsATransmissionWhenOff();
    void endsATransmissionOnceWhenItsTimeIsUp();
    void countsDownTheLastSeconds_data();
    void countsDownTheLastSeconds();
    void stopsTimingWhenTheOutputIsReleased();
    void timesEachTransmissionFromItsOwnStart();
};

void TestTransmitTimeout::neverEndsATransmissionWhenOff()
{
    TransmitTimeout timeout(0);
    QVERIFY(!timeout.isEnabled());
    timeout.keyed(0);
    QVERIFY(!timeout.isRunning());
    QVERIFY(!timeout.expired(24 * 3600 * 1000LL));
    QVERIFY(!timeout.poll(24 * 3600 * 1000LL));
    QVERIFY(!timeout.secondsLeft(0).has_value());
}

void TestTransmitTimeout::endsATransmissionOnceWhenItsTimeIsUp()
{
    TransmitTimeout timeout(60);
    timeout.keyed(1000);
    QCOMPARE(timeout.deadlineMs(), std::optional<qint64>(61000));
    QVERIFY(!timeout.expired(60999));
    QVERIFY(!timeout.poll(60999));
    QVERIFY(timeout.expired(61000));
    QVERIFY(timeout.poll(61500));
    QVERIFY(!timeout.isRunning());
    QVERIFY(!timeout.expired(61500));
    QVERIFY(!timeout.poll(62000));
    // Ended from the button: the footswitch is free to key.
}

void TestTransmitTimeout::countsDownTheLastSeconds_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<qint64>("sinceKeyedMs");
    QTest::addColumn<int>("left"); // -1: no countdown

    QTest::newRow("just keyed") << 60 << 0LL << -1;
    QTest::newRow("before the last ten seconds") << 60 << 49999LL << -1;
    QTest::newRow("ten seconds left") << 60 << 50000LL << 10;
    QTest::newRow("a little under ten left") << 60 << 50001LL << 10;
    QTest::newRow("one second left") << 60 << 59000LL << 1;
    QTest::newRow("a moment left") << 60 << 59999LL << 1;
    QTest::newRow("time up") << 60 << 60000LL << -1;
    QTest::newRow("short timeout counts down from the start") << 5 << 0LL << 5;
}

void TestTransmitTimeout::countsDownTheLastSeconds()
{
    QFETCH(int, seconds);
    QFETCH(qint64, sinceKeyedMs);
    QFETCH(int, left);

    TransmitTimeout timeout(seconds);
    const qint64 keyedAt = 123456;
    timeout.keyed(keyedAt);
    const std::optional<int> secondsLeft = timeout.secondsLeft(keyedAt + sinceKeyedMs);
    QCOMPARE(secondsLeft.value_or(-1), left);
}

void TestTransmitTimeout::stopsTimingWhenTheOutputIsReleased()
{
    TransmitTimeout timeout(30);
    timeout.keyed(0);
    timeout.released();
    QVERIFY(!timeout.isRunning());
    QVERIFY(!timeout.poll(40000));
    QVERIFY(!timeout.secondsLeft(25000).has_value());
}

void TestTransmitTimeout::timesEachTransmissionFromItsOwnStart()
{
    TransmitTimeout timeout(60);
    timeout.keyed(0);
    timeout.released();
    timeout.keyed(40000);
    QVERIFY(!timeout.poll(99999));
    QVERIFY(timeout.poll(100000));
}

QTEST_APPLESS_MAIN(TestTransmitTimeout)
#include "tst_transmittimeout.moc"
