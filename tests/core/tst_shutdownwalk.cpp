#include "core/keyingengine.h"
#include "support/fakeserialports.h"
#include "support/fakesettingsstore.h"

#include <QElapsedTimer>
#include <QTest>

// The end of the program, after its event loop: the release walk still runs
// with its tails on the real clock, within a bound, before anything is
// dropped at once.
class tst_ShutdownWalk : public QObject
{
    Q_OBJECT

private slots:
    void shouldReleaseWithTheTailsAtTheEnd_data();
    void shouldReleaseWithTheTailsAtTheEnd();
};

void tst_ShutdownWalk::shouldReleaseWithTheTailsAtTheEnd_data()
{
    QTest::addColumn<int>("tailMs"); // output 1's: how long it outlasts output 2
    QTest::newRow("a short tail") << 50;
    QTest::newRow("a long tail") << 200;
}

void tst_ShutdownWalk::shouldReleaseWithTheTailsAtTheEnd()
{
    QFETCH(int, tailMs);
    FakeSerialPorts ports;
    FakeSettingsStore settings;
    settings.values.insert({{"Footswitch-Debounce", "0"}, {"Sequence/Output1-Lead", "0"},
                            {"Sequence/Output1-Tail", QString::number(tailMs)}, {"Sequence/Output2-Kind", "Serial"},
                            {"Sequence/Output2-Port", "3"}, {"Sequence/Output2-Tail", "0"}});
    KeyingEngine engine(ports);
    engine.configure(settings);
    engine.openPorts(QStringLiteral("1"), QStringLiteral("2"));
    QTRY_COMPARE(engine.state(), KeyingEngine::State::Released);
    engine.operatorKey();
    QTRY_COMPARE(engine.keyedOutputs(), 2);

    // When each output let go, as its port saw it.
    QElapsedTimer clock;
    QList<std::pair<int, qint64>> released;
    connect(&engine, &KeyingEngine::outputsKeyedChanged, this, [&](int keyed) {
        QCOMPARE(ports.line(3)->rts, false);
        QCOMPARE(ports.line(2)->rts, keyed > 0);
        released.append({keyed, clock.elapsed()});
    });
    clock.start();
    engine.finishShutdown();
    QCOMPARE(released.size(), 2);
    QCOMPARE(released.at(0).first, 1);
    QCOMPARE(released.at(1).first, 0);
    QVERIFY2(released.at(1).second - released.at(0).second >= tailMs - 1,
             qPrintable(QStringLiteral("output 1 let go %1 ms after output 2")
                            .arg(released.at(1).second - released.at(0).second)));
    QVERIFY(!ports.line(2)->rts && !ports.line(2)->open && !ports.line(3)->open);
}

QTEST_GUILESS_MAIN(tst_ShutdownWalk)
#include "tst_shutdownwalk.moc"
