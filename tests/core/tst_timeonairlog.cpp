#include "core/timeonairlog.h"
#include "support/fakeserialports.h"
#include "support/fakesettingsstore.h"

#include <QTemporaryDir>
#include <QTest>

// The log follows a real engine over fake ports (footswitch on 1, relay on
// 2, DSR of 5 inhibits, 30 s time-out), both on one fake clock, and writes
// into a temporary $XDG_STATE_HOME. Local time is Central European.
class tst_TimeOnAirLog : public QObject
{
    Q_OBJECT

private slots:
    void shouldWriteEachTransmissionAndSumWhatTheFilesHold_data();
    void shouldWriteEachTransmissionAndSumWhatTheFilesHold();

private:
    // The file's lines, the header first.
    static QStringList fileLines(const QString &fileName);
};

QStringList tst_TimeOnAirLog::fileLines(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')) : QStringList();
}

void tst_TimeOnAirLog::shouldWriteEachTransmissionAndSumWhatTheFilesHold_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("tailMs");   // output 1's tail after a second relay on 3; 0: no second
    QTest::addColumn<int>("maxBytes"); // the file's bound
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("rotated"); // lines in time-on-air.csv.1
    QTest::addColumn<int>("todayMs");
    QTest::addColumn<int>("weekMs");
    const int mib = int(TimeOnAirLog::MaxFileBytes);
    const auto line = [](const char *start, const char *end, const char *rest) {
        return QStringLiteral("2026-12-%1+01:00,2026-12-%2+01:00,%3").arg(start, end, rest);
    };
    QTest::newRow("footswitch let go") << "press +1500 release" << 0 << mib
        << QStringList{line("08T06:00:00.000", "08T06:00:01.500", "1.500,footswitch,release")} << 0 << 1500 << 1500;
    QTest::newRow("Tx, Rx") << "tx +2250 rx" << 0 << mib
        << QStringList{line("08T06:00:00.000", "08T06:00:02.250", "2.250,Tx button,release")} << 0 << 2250 << 2250;
    QTest::newRow("on the air until the tail ends") << "press +1000 release +49 +1" << 50 << mib
        << QStringList{line("08T06:00:00.000", "08T06:00:01.050", "1.050,footswitch,release")} << 0 << 1050 << 1050;
    QTest::newRow("time-out") << "press +29999 +1" << 0 << mib
        << QStringList{line("08T06:00:00.000", "08T06:00:30.000", "30.000,footswitch,time-out")} << 0 << 30000 << 30000;
    QTest::newRow("inhibit") << "tx +400 inhibit" << 0 << mib
        << QStringList{line("08T06:00:00.000", "08T06:00:00.400", "0.400,Tx button,inhibit")} << 0 << 400 << 400;
    QTest::newRow("input lost") << "press +700 in-lost" << 0 << mib
        << QStringList{line("08T06:00:00.000", "08T06:00:00.700", "0.700,footswitch,loss")} << 0 << 700 << 700;
    QTest::newRow("output lost") << "tx +800 out-lost" << 0 << mib
        << QStringList{line("08T06:00:00.000", "08T06:00:00.800", "0.800,Tx button,loss")} << 0 << 800 << 800;
    QTest::newRow("ports closed for the About window") << "press +100 about" << 0 << mib
        << QStringList{line("08T06:00:00.000", "08T06:00:00.100", "0.100,footswitch,exit")} << 0 << 100 << 100;
    QTest::newRow("end of the program") << "tx +120 shutdown" << 0 << mib
        << QStringList{line("08T06:00:00.000", "08T06:00:00.120", "0.120,Tx button,exit")} << 0 << 120 << 120;
    QTest::newRow("still on the air when the log goes") << "press +130" << 0 << mib
        << QStringList{line("08T06:00:00.000", "08T06:00:00.130", "0.130,footswitch,exit")} << 0 << 130 << 130;
    QTest::newRow("a press under Tx stays the Tx button's") << "tx +100 press +100 release" << 0 << mib
        << QStringList{line("08T06:00:00.000", "08T06:00:00.200", "0.200,Tx button,release")} << 0 << 200 << 200;
    QTest::newRow("over midnight, partly today") << "+64799000 tx +2000 rx" << 0 << mib
        << QStringList{line("08T23:59:59.000", "09T00:00:01.000", "2.000,Tx button,release")} << 0 << 1000 << 2000;
    QTest::newRow("a week is today and six days before") << "tx +1000 rx +86400000 tx +2000 rx +518400000 press +3000 release"
        << 0 << mib
        << QStringList{line("08T06:00:00.000", "08T06:00:01.000", "1.000,Tx button,release"),
                       line("09T06:00:01.000", "09T06:00:03.000", "2.000,Tx button,release"),
                       line("15T06:00:03.000", "15T06:00:06.000", "3.000,footswitch,release")}
        << 0 << 3000 << 5000;
    // 32 bytes of header and 84 a line: four lines to a file of 400 bytes.
    QTest::newRow("rotated twice, the oldest four gone") << QString("tx +100 rx +100 ").repeated(10) << 0 << 400
        << QStringList{line("08T06:00:01.600", "08T06:00:01.700", "0.100,Tx button,release"),
                       line("08T06:00:01.800", "08T06:00:01.900", "0.100,Tx button,release")}
        << 4 << 600 << 600;
    QTest::newRow("the newest fifty of both files") << QString("tx +100 rx +100 ").repeated(51) << 0 << 4096
        << QStringList{line("08T06:00:09.600", "08T06:00:09.700", "0.100,Tx button,release"),
                       line("08T06:00:09.800", "08T06:00:09.900", "0.100,Tx button,release"),
                       line("08T06:00:10.000", "08T06:00:10.100", "0.100,Tx button,release")}
        << 48 << 5100 << 5100;
}

void tst_TimeOnAirLog::shouldWriteEachTransmissionAndSumWhatTheFilesHold()
{
    QFETCH(QString, steps);
    QFETCH(int, tailMs);
    QFETCH(int, maxBytes);
    QFETCH(QStringList, lines);
    QFETCH(int, rotated);
    QFETCH(int, todayMs);
    QFETCH(int, weekMs);
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    const QString fileName = state.path() + QStringLiteral("/zelvo-footswitch2/time-on-air.csv");
    QCOMPARE(TimeOnAirLog::defaultFileName(), fileName);

    FakeSerialPorts ports;
    FakeSettingsStore settings;
    settings.values.insert({{"Footswitch-Debounce", "0"}, {"Tx-Timeout", "30"}, {"Inhibit-Line", "DSR"},
                            {"Inhibit-Port", "5"}, {"Sequence/Output1-Tail", QString::number(tailMs)}});
    if (tailMs > 0)
        settings.values.insert({{"Sequence/Output2-Kind", "Serial"}, {"Sequence/Output2-Port", "3"}});
    qint64 nowMs = 0;
    const QDateTime start = QDateTime::fromString(QStringLiteral("2026-12-08T05:00:00Z"), Qt::ISODate);
    const auto clock = [&] { return start.addMSecs(nowMs); };
    KeyingEngine engine(ports);
    engine.setClock([&] { return nowMs * 1000; });
    engine.configure(settings);
    engine.openPorts(QStringLiteral("1"), QStringLiteral("2"));
    QTRY_VERIFY(engine.state() == KeyingEngine::State::Released && !engine.isInhibited());
    {
        TimeOnAirLog log(TimeOnAirLog::defaultFileName(), maxBytes);
        log.setClock(clock);
        log.follow(engine);
        FakeLineState &in = *ports.line(1);
        for (const QString &step : steps.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (step.startsWith(QLatin1Char('+')))
                nowMs += step.mid(1).toInt();
            else if (step == QLatin1String("tx"))
                engine.operatorKey();
            else if (step == QLatin1String("rx"))
                engine.operatorRelease();
            else if (step == QLatin1String("about"))
                engine.closePorts();
            else if (step == QLatin1String("shutdown"))
                engine.shutdown();
            else if (step.endsWith(QLatin1String("-lost")))
                ports.line(step.startsWith(QLatin1String("in")) ? 1 : 2)->gone = true;
            in.cts = step == QLatin1String("press") || (in.cts && step != QLatin1String("release"));
            ports.line(5)->dsr = step == QLatin1String("inhibit");
            engine.poll();
            QCoreApplication::processEvents();
        }
    }
    const QString header = QStringLiteral("start,end,seconds,source,ending");
    QCOMPARE(fileLines(fileName), QStringList{header} + lines + QStringList{QString()});
    const QStringList older = fileLines(fileName + QStringLiteral(".1")).mid(1, rotated);
    if (rotated > 0)
        QCOMPARE(fileLines(fileName + QStringLiteral(".1")), QStringList{header} + older + QStringList{QString()});

    TimeOnAirLog reader;
    reader.setClock(clock);
    const TimeOnAirSummary summary = reader.summary().result();
    QCOMPARE(summary.todayMs, qint64(todayMs));
    QCOMPARE(summary.weekMs, qint64(weekMs));
    QStringList latest;
    for (const Transmission &transmission : summary.latest)
        latest.prepend(QString::fromUtf8(transmission.csvLine()));
    QCOMPARE(latest, (older + lines).mid(qMax(0, int(older.size() + lines.size()) - TimeOnAirSummary::LatestCount)));
}

QTEST_GUILESS_MAIN(tst_TimeOnAirLog)
#include "tst_timeonairlog.moc"
