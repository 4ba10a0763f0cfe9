#include "core/outputsequence.h"

#include <QRandomGenerator>
#include <QTest>

using Step = OutputSequence::Step;
using Timing = OutputSequence::Timing;
Q_DECLARE_METATYPE(QList<Step>)

// Preamp relay (lead 30), amplifier (lead 20, tail 50), radio; on a clock
// the test moves, taking each step when it is due. Events: "+N" press at
// now+N, "-N" release at now+N, "=N" the caller comes only at now+N, "~N"
// the last step's output followed N ms after it was taken.
class tst_OutputSequence : public QObject
{
    Q_OBJECT

private slots:
    void shouldWalkInOrderWithLeadsAndTails_data();
    void shouldWalkInOrderWithLeadsAndTails();
    void shouldNeverKeyOutOfOrderInRandomTaps();
};

namespace {

const QList<Timing> station{{30, 80}, {20, 50}, {0, 0}};

QList<Step> runEvents(OutputSequence &sequence, const QString &events, qint64 until)
{
    QList<Step> steps;
    qint64 now = 0;
    const auto advanceTo = [&](qint64 at) {
        for (std::optional<qint64> due; (due = sequence.nextStepAt()) && *due <= at;)
            steps += sequence.advance(*due);
    };
    for (const QString &event : events.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const qint64 at = now + event.mid(1).toLongLong();
        if (event.startsWith(QLatin1Char('~'))) {
            sequence.stepTookEffect(steps.last().at + event.mid(1).toLongLong());
            continue;
        }
        if (event.startsWith(QLatin1Char('='))) {
            steps += sequence.advance(at);
        } else {
            advanceTo(at);
            sequence.setWanted(event.startsWith(QLatin1Char('+')), at);
            steps += sequence.advance(at);
        }
        now = at;
    }
    advanceTo(until);
    return steps;
}

} // namespace

void tst_OutputSequence::shouldWalkInOrderWithLeadsAndTails_data()
{
    QTest::addColumn<QString>("events");
    QTest::addColumn<QList<Step>>("steps");
    QTest::newRow("press and release")
        << "+0 -1000"
        << QList<Step>{{0, true, 0}, {1, true, 30}, {2, true, 50},
                       {2, false, 1000}, {1, false, 1050}, {0, false, 1130}};
    QTest::newRow("release in the key walk turns it around where it stands")
        << "+0 -40" << QList<Step>{{0, true, 0}, {1, true, 30}, {1, false, 40}, {0, false, 120}};
    QTest::newRow("release before the first lead passed")
        << "+0 -10" << QList<Step>{{0, true, 0}, {0, false, 10}};
    QTest::newRow("press in the release walk turns it forward again")
        << "+0 -100 +20"
        << QList<Step>{{0, true, 0}, {1, true, 30}, {2, true, 50}, {2, false, 100}, {2, true, 120}};
    QTest::newRow("press while only the first is left keeps its lead")
        << "+0 -100 +100"
        << QList<Step>{{0, true, 0}, {1, true, 30}, {2, true, 50}, {2, false, 100}, {1, false, 150},
                       {1, true, 200}, {2, true, 220}};
    QTest::newRow("a step taken late delays the rest of the walk, never shortens a lead")
        << "+0 =100 -900 =100"
        << QList<Step>{{0, true, 0}, {1, true, 100}, {2, true, 120},
                       {2, false, 1000}, {1, false, 1100}, {0, false, 1180}};
    QTest::newRow("a lead or tail counts from when its output followed")
        << "+0 ~5 -1000 ~7"
        << QList<Step>{{0, true, 0}, {1, true, 35}, {2, true, 55},
                       {2, false, 1000}, {1, false, 1057}, {0, false, 1137}};
    QTest::newRow("taps faster than the leads")
        << "+0 -5 +5 -5" << QList<Step>{{0, true, 0}, {0, false, 5}, {0, true, 10}, {0, false, 15}};
}

void tst_OutputSequence::shouldWalkInOrderWithLeadsAndTails()
{
    QFETCH(QString, events);
    QFETCH(QList<Step>, steps);
    OutputSequence sequence(station);
    QCOMPARE(runEvents(sequence, events, 10000), steps);
    QVERIFY(sequence.isSettled());
}

void tst_OutputSequence::shouldNeverKeyOutOfOrderInRandomTaps()
{
    QRandomGenerator random(20261207);
    int violations = 0;
    for (int run = 0; run < 10000; ++run) {
        QList<Timing> timings;
        for (int i = 0, n = random.bounded(1, 5); i < n; ++i)
            timings.append({random.bounded(0, 200), random.bounded(0, 200)});
        OutputSequence sequence(timings);
        QList<std::optional<qint64>> keyedAt(timings.size()), releasedAt(timings.size());
        qint64 now = 0;
        qint64 wantedAt = 0;
        int keyed = 0;
        for (int event = 0; event < 12; ++event) {
            now += random.bounded(0, 400);
            for (int poll = 0; poll <= 1; ++poll) {
                for (const Step &step : sequence.advance(now)) {
                    const int i = step.output;
                    const Timing &timing = timings.at(i);
                    bool ok = step.at >= wantedAt && step.at <= now;
                    if (step.keyed) {
                        ok = ok && i == keyed && (i == 0 || step.at >= *keyedAt[i - 1] + timings.at(i - 1).leadMs);
                        keyedAt[i] = step.at;
                        ++keyed;
                    } else {
                        ok = ok && i == keyed - 1;
                        if (i + 1 < timings.size() && releasedAt[i + 1] && *releasedAt[i + 1] >= *keyedAt[i])
                            ok = ok && step.at >= *releasedAt[i + 1] + timing.tailMs;
                        releasedAt[i] = step.at;
                        --keyed;
                    }
                    violations += ok ? 0 : 1;
                }
                if (poll == 0) {
                    sequence.setWanted(random.bounded(2) == 1, now);
                    wantedAt = now;
                }
            }
        }
        // Whatever came before, a release ends with everything released.
        sequence.setWanted(false, now);
        while (const std::optional<qint64> due = sequence.nextStepAt())
            sequence.advance(*due);
        violations += sequence.keyedCount() == 0 ? 0 : 1;
    }
    QCOMPARE(violations, 0);
}

QTEST_GUILESS_MAIN(tst_OutputSequence)
#include "tst_outputsequence.moc"
