#include "ui/timeonair/timeonairwindow.h"
#include "support/fakehelpviewer.h"
#include "support/fakemessages.h"

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

// The window over a prepared file and the one before it, at 09:00 on
// 8 December, Central European time: a line that is not a transmission is
// passed over.
class tst_TimeOnAirWindow : public QObject
{
    Q_OBJECT

private slots:
    void shouldShowTheTotalsAndTheNewestFirst();
};

void tst_TimeOnAirWindow::shouldShowTheTotalsAndTheNewestFirst()
{
    QTemporaryDir folder;
    const QString fileName = folder.path() + QStringLiteral("/time-on-air.csv");
    const auto write = [](const QString &name, const QByteArray &lines) {
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("start,end,seconds,source,ending\n" + lines);
    };
    write(fileName + QStringLiteral(".1"),
          "2026-12-07T20:00:00.000+01:00,2026-12-07T20:01:00.000+01:00,60.000,footswitch,time-out\n");
    write(fileName, "2026-12-08T06:00:00.000+01:00,2026-12-08T06:00:12.345+01:00,12.345,Tx button,release\n"
                    "not a transmission\n"
                    "2026-12-08T07:00:00.000+01:00,2026-12-08T08:02:05.000+01:00,3725.000,footswitch,inhibit\n");
    TimeOnAirLog log(fileName);
    log.setClock([] { return QDateTime::fromString(QStringLiteral("2026-12-08T09:00:00+01:00"), Qt::ISODate); });
    FakeHelpViewer opener;
    FakeMessages messages;
    TimeOnAirWindow window(log, &opener, &messages);
    window.show();

    QTRY_COMPARE(window.table()->rowCount(), 3);
    QCOMPARE(window.today()->text(), QStringLiteral("1:02:17"));
    QCOMPARE(window.week()->text(), QStringLiteral("1:03:17"));
    QStringList rows;
    for (int row = 0; row < 3; ++row) {
        QStringList cells;
        for (int column = 0; column < 4; ++column)
            cells << window.table()->item(row, column)->text();
        rows << cells.join(QLatin1Char('|'));
    }
    QCOMPARE(rows, (QStringList{"2026-12-08 07:00:00|3725.000|footswitch|inhibit",
                                "2026-12-08 06:00:00|12.345|Tx button|release",
                                "2026-12-07 20:00:00|60.000|footswitch|time-out"}));
    window.openFolderButton()->click();
    QCOMPARE(opener.shown, QStringList{folder.path()});
    QVERIFY(messages.shown.isEmpty());
}

QTEST_MAIN(tst_TimeOnAirWindow)
#include "tst_timeonairwindow.moc"
