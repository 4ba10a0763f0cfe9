// FootswitchDebouncer on a fake clock. Each row gives the raw line as its
// edges ("t:level", ms) and the confirmed changes expected from a caller that
// samples at every edge (as a line-change report makes it) and at every
// recheckAtMs() the debouncer asks for.
#include "core/footswitchdebouncer.h"

#include <QTest>

namespace {

QList<QPair<qint64, bool>> parseEdges(const QString &text)
{
    QList<QPair<qint64, bool>> edges;
    for (const QString &edge : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        edges.append({edge.section(QLatin1Char(':'), 0, 0).toLongLong(), edge.section(QLatin1Char(':'), 1) == QLatin1String("1")});
    return edges;
}

// Plays the edges to a debouncer as the relay's poll would; returns the
// confirmed changes in the same notation.
QString play(FootswitchDebouncer &debouncer, const QString &edges)
{
    QStringList changes;
    bool raw = debouncer.level();
    auto feed = [&](qint64 t) {
        if (debouncer.sample(raw, t))
            changes.append(QStringLiteral("%1:%2").arg(t).arg(debouncer.level() ? 1 : 0));
    };
    for (const auto &[t, level] : parseEdges(edges)) {
        while (debouncer.recheckAtMs() && *debouncer.recheckAtMs() < t)
            feed(*debouncer.recheckAtMs());
        raw = level;
        feed(t);
    }
    for (int rechecks = 0; debouncer.recheckAtMs() && rechecks < 10; ++rechecks)
        feed(*debouncer.recheckAtMs());
    return changes.join(QLatin1Char(' '));
}

} // namespace

class TestFootswitchDebouncer : public QObject
{
    Q_OBJECT

private slots:
    void confirmsOnlyLevelsThatHeld_data();
    void confirmsOnlyLevelsThatHeld();
    void asksForARecheckFromTheFirstDifferingSample();
    void startsFromTheLevelItIsResetTo();
    void keepsTheDebounceTimeWithinItsRange_data();
    void keepsTheDebounceTimeWithinItsRange();
};

void TestFootswitchDebouncer::confirmsOnlyLevelsThatHeld_data()
{
    QTest::addColumn<int>("debounceMs");
    QTest::addColumn<QString>("edges");
    QTest::addColumn<QString>("changes");

    QTest::newRow("no debounce: every level at once") << 0 << "0:1 1:0 2:1 50:0" << "0:1 1:0 2:1 50:0";
    QTest::newRow("press and release") << 20 << "100:1 900:0" << "120:1 920:0";
    QTest::newRow("glitch while released keys nothing") << 20 << "100:1 102:0" << "";
    QTest::newRow("glitch while pressed releases nothing") << 20 << "0:1 500:0 502:1 1000:0" << "20:1 1020:0";
    QTest::newRow("glitch just short of the debounce time") << 20 << "100:1 119:0" << "";
    QTest::newRow("level held past the debounce time counts") << 20 << "100:1 121:0" << "120:1 141:0";
    QTest::newRow("bouncing press and release: one change each")
        << 20 << "0:1 1:0 1:1 2:0 3:1 400:0 400:1 401:0 402:1 403:0" << "23:1 423:0";
    QTest::newRow("bounce train longer than the debounce time")
        << 5 << "0:1 3:0 6:1 9:0 12:1 15:0 18:1" << "23:1";
    QTest::newRow("release after a long press") << 10 << "0:1 3600000:0" << "10:1 3600010:0";
    QTest::newRow("release soon after the press is not lost") << 20 << "0:1 25:0" << "20:1 45:0";
    QTest::newRow("largest debounce") << 500 << "0:1 499:0 1000:1 2000:0" << "1500:1 2500:0";
}

void TestFootswitchDebouncer::confirmsOnlyLevelsThatHeld()
{
    QFETCH(int, debounceMs);
    QFETCH(QString, edges);
    QFETCH(QString, changes);

    FootswitchDebouncer debouncer(debounceMs);
    debouncer.reset(false);
    QCOMPARE(play(debouncer, edges), changes);
    // Whatever the line did, the debouncer ends where the line did.
    const auto allEdges = parseEdges(edges);
    QCOMPARE(debouncer.level(), allEdges.isEmpty() ? false : allEdges.last().second);
    QCOMPARE(debouncer.recheckAtMs(), std::nullopt);
}

void TestFootswitchDebouncer::asksForARecheckFromTheFirstDifferingSample()
{
    FootswitchDebouncer debouncer(30);
    debouncer.reset(false);
    QCOMPARE(debouncer.recheckAtMs(), std::nullopt);
    QVERIFY(!debouncer.sample(false, 0));
    QCOMPARE(debouncer.recheckAtMs(), std::nullopt);

    QVERIFY(!debouncer.sample(true, 100));
    QCOMPARE(debouncer.recheckAtMs(), std::optional<qint64>(130));
    // Further reads of the same new level do not push the moment on.
    QVERIFY(!debouncer.sample(true, 110));
    QCOMPARE(debouncer.recheckAtMs(), std::optional<qint64>(130));
    QVERIFY(!debouncer.level());

    QVERIFY(debouncer.sample(true, 130));
    QVERIFY(debouncer.level());
    QCOMPARE(debouncer.recheckAtMs(), std::nullopt);
    // A recheck that comes late still confirms only once.
    QVERIFY(!debouncer.sample(true, 500));
}

void TestFootswitchDebouncer::startsFromTheLevelItIsResetTo()
{
    FootswitchDebouncer debouncer(10);
    debouncer.reset(true);
    QVERIFY(debouncer.level());
    QVERIFY(!debouncer.sample(true, 0));
    QVERIFY(!debouncer.sample(false, 5));
    // A reset (the port reopened) forgets what was pending.
    debouncer.reset(true);
    QCOMPARE(debouncer.recheckAtMs(), std::nullopt);
    QVERIFY(!debouncer.sample(false, 20));
    QCOMPARE(debouncer.recheckAtMs(), std::optional<qint64>(30));
}

void TestFootswitchDebouncer::keepsTheDebounceTimeWithinItsRange_data()
{
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("kept");
    QTest::newRow("negative") << -5 << 0;
    QTest::newRow("zero") << 0 << 0;
    QTest::newRow("within") << 35 << 35;
    QTest::newRow("largest") << 500 << 500;
    QTest::newRow("too large") << 900 << 500;
}

void TestFootswitchDebouncer::keepsTheDebounceTimeWithinItsRange()
{
    QFETCH(int, requested);
    QFETCH(int, kept);
    QCOMPARE(FootswitchDebouncer(requested).debounceMs(), kept);
}

QTEST_APPLESS_MAIN(TestFootswitchDebouncer)
#include "tst_footswitchdebouncer.moc"
