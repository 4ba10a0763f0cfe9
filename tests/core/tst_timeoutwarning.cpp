#include "core/timeoutwarning.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// What was asked to sound, and when on the test's clock: "W@20000".
struct FakeSound : SoundAlert
{
    const qint64 *clock = nullptr;
    QStringList played;
    void play(Sound sound) override
    {
        played.append(QStringLiteral("%1@%2").arg(sound == Sound::Warning ? QStringLiteral("W") : QStringLiteral("T")).arg(*clock));
    }
};

} // namespace

class tst_TimeoutWarning : public QObject
{
    Q_OBJECT

private slots:
    void shouldSoundOnTime_data();
    void shouldSoundOnTime();
    void shouldCountDownTheWarningsSeconds();
};

void tst_TimeoutWarning::shouldSoundOnTime_data()
{
    QTest::addColumn<int>("timeout");   // s
    QTest::addColumn<int>("warning");   // s
    QTest::addColumn<int>("stallMs");   // no poll() for 5 s from then, -1 none
    QTest::addColumn<int>("releaseMs"); // a release at, -1 none
    QTest::addColumn<int>("rekeyMs");   // a new press or Tx at, -1 none
    QTest::addColumn<QStringList>("played");
    const QStringList fiveThenEnd{"W@20000", "W@22000", "W@24000", "W@26000", "W@28000", "T@30000"};
    QTest::newRow("every 2 s from 10 s before, then the end") << 30 << 10 << -1 << -1 << -1 << fiveThenEnd;
    QTest::newRow("none after a release") << 30 << 10 << -1 << 25000 << -1
                                          << QStringList{"W@20000", "W@22000", "W@24000"};
    QTest::newRow("warning 0: none at all") << 30 << 0 << -1 << -1 << -1 << QStringList{};
    QTest::newRow("no time-out: none") << 0 << 10 << -1 << -1 << -1 << QStringList{};
    QTest::newRow("warning longer than the time-out: from the start")
        << 5 << 10 << -1 << -1 << -1 << QStringList{"W@0", "W@2000", "W@4000", "T@5000"};
    QTest::newRow("a late tick sounds once, not the beats it missed")
        << 30 << 10 << 20100 << -1 << -1 << QStringList{"W@20000", "W@25100", "W@26000", "W@28000", "T@30000"};
    QTest::newRow("a new press times afresh")
        << 30 << 10 << -1 << -1 << 25000
        << QStringList{"W@20000", "W@22000", "W@24000", "W@45000", "W@47000", "W@49000", "W@51000", "W@53000",
                       "T@55000"};
}

void tst_TimeoutWarning::shouldSoundOnTime()
{
    QFETCH(int, timeout);
    QFETCH(int, warning);
    QFETCH(int, stallMs);
    QFETCH(int, releaseMs);
    QFETCH(int, rekeyMs);
    QFETCH(QStringList, played);

    qint64 now = 0;
    FakeSound sound;
    sound.clock = &now;
    TimeoutWarning alert(sound);
    alert.setClock([&now] { return now; });
    alert.keyed(timeout, warning);
    qint64 deadline = qint64(timeout) * 1000;
    for (; now <= 60000; now += 100) {
        if (now == releaseMs)
            alert.released();
        if (now == rekeyMs) {
            alert.keyed(timeout, warning);
            deadline = now + qint64(timeout) * 1000;
        }
        // The engine's time-out releases, and says so, at its deadline.
        if (timeout > 0 && now == deadline)
            alert.timedOut();
        // A busy event loop: the tick comes late.
        if (stallMs < 0 || now < stallMs || now >= stallMs + 5000)
            alert.poll();
    }
    QCOMPARE(sound.played, played);
}

void tst_TimeoutWarning::shouldCountDownTheWarningsSeconds()
{
    qint64 now = 0;
    FakeSound sound;
    sound.clock = &now;
    TimeoutWarning alert(sound);
    alert.setClock([&now] { return now; });
    QSignalSpy warned(&alert, &TimeoutWarning::warned);
    QSignalSpy countdown(&alert, &TimeoutWarning::countdownChanged);
    alert.keyed(30, 12);
    for (now = 0; now < 30000; now += 100)
        alert.poll();
    QList<int> left;
    for (const QList<QVariant> &arguments : std::as_const(warned))
        left.append(arguments.at(0).toInt());
    QCOMPARE(left, (QList<int>{12, 10, 8, 6, 4, 2}));
    // The countdown spans the warning: 12 down to 1, then nothing.
    QCOMPARE(countdown.size(), 12);
    QCOMPARE(countdown.first().at(0).toInt(), 12);
    QCOMPARE(countdown.last().at(0).toInt(), 1);
    alert.timedOut();
    QCOMPARE(countdown.last().at(0).toInt(), 0);
}

QTEST_GUILESS_MAIN(tst_TimeoutWarning)
#include "tst_timeoutwarning.moc"
