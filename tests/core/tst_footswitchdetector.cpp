#include "core/footswitchdetector.h"

#include <QTest>

// Recorded reads of the four input lines, "ms:CTS DSR DCD RI" as 0/1 digits.
class tst_FootswitchDetector : public QObject
{
    Q_OBJECT

private slots:
    void shouldFindTheLineThatFollowsTheSwitch_data();
    void shouldFindTheLineThatFollowsTheSwitch();
};

void tst_FootswitchDetector::shouldFindTheLineThatFollowsTheSwitch_data()
{
    QTest::addColumn<QString>("reads");
    QTest::addColumn<QString>("found"); // "DSR 1": the line and "inverted"; "" for none
    QTest::addColumn<QString>("sentence");
    QTest::newRow("normally open on CTS") << "0:0000 100:1000 300:0000 500:1000 700:0000 900:0000" << "CTS 0"
        << "CTS goes high when pressed: a normally open switch on CTS.";
    QTest::newRow("normally closed on DSR") << "0:0100 100:0000 300:0100 500:0000 700:0100 900:0100" << "DSR 1"
        << "DSR goes low when pressed: a normally closed switch on DSR.";
    QTest::newRow("bouncing contacts and a spike on DCD")
        << "0:0000 100:1000 102:0000 104:1000 106:0000 108:1000 300:0000 303:1000 306:0000 "
           "500:1010 504:1000 700:0000 702:1000 705:0000 900:0000" << "CTS 0"
        << "CTS goes high when pressed: a normally open switch on CTS.";
    QTest::newRow("still pressed at the start") << "0:0001 200:0000 400:0001 500:0000 900:0000" << "RI 0"
        << "RI goes high when pressed: a normally open switch on RI.";
    QTest::newRow("nothing pressed") << "0:0000 5:0010 9:0000 500:0000 900:0000" << ""
        << "Nothing changed on CTS, DSR, DCD or RI. Check the wiring, and that the switch is fed from RTS or "
           "DTR of this port.";
    QTest::newRow("pressed once") << "0:0000 100:0010 900:0010" << ""
        << "DCD changed only once: press and release the footswitch a few times while it listens.";
    QTest::newRow("two lines moving") << "0:0000 100:1100 300:0000 500:1100 700:0000 900:0000" << ""
        << "Two lines changed: CTS and DSR. A footswitch moves one line only: check the wiring for a short "
           "between them.";
}

void tst_FootswitchDetector::shouldFindTheLineThatFollowsTheSwitch()
{
    QFETCH(QString, reads);
    QFETCH(QString, found);
    QFETCH(QString, sentence);
    FootswitchDetector detector;
    for (const QString &read : reads.split(QLatin1Char(' '))) {
        const QStringList parts = read.split(QLatin1Char(':'));
        FootswitchDetector::Levels levels{};
        for (size_t line = 0; line < levels.size(); ++line)
            levels[line] = parts[1][line] == QLatin1Char('1');
        detector.add(parts[0].toLongLong(), levels);
    }
    const FootswitchDetector::Result result = detector.result();
    QCOMPARE(result.sentence, sentence);
    const QStringList expected = found.split(QLatin1Char(' '));
    QCOMPARE(result.outcome == FootswitchDetector::Outcome::Found, !found.isEmpty());
    if (!found.isEmpty()) {
        QCOMPARE(int(result.line), QStringList({"CTS", "DSR", "DCD", "RI"}).indexOf(expected[0]));
        QCOMPARE(result.inverted, expected[1] == QLatin1String("1"));
    }
}

QTEST_APPLESS_MAIN(tst_FootswitchDetector)
#include "tst_footswitchdetector.moc"
