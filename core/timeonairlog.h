#pragma once

#include "core/keyingengine.h"
#include "platform/storage/boundedlinefile.h"

#include <QDateTime>
#include <QFuture>
#include <QList>
#include <QObject>
#include <QThreadPool>

#include <functional>
#include <optional>

// One transmission: from the first output keyed to the last one released.
struct Transmission
{
    QDateTime start;
    QDateTime end;
    QString source; // "footswitch", "Tx button", "rigctl client 127.0.0.1:53422"
    QString ending; // "release", "time-out", "inhibit", "loss", "exit"

    qint64 milliseconds() const { return start.msecsTo(end); }
    // Its line in the file: start,end,seconds,source,ending, the times in
    // ISO 8601 local time with the offset from UTC, to the millisecond.
    QByteArray csvLine() const;
    static std::optional<Transmission> fromCsvLine(const QByteArray &line);
};

// What the Time on air window shows.
struct TimeOnAirSummary
{
    static constexpr int LatestCount = 50;

    qint64 todayMs = 0; // since midnight, local time
    qint64 weekMs = 0;  // today and the six days before
    QList<Transmission> latest; // newest first
};

// Writes every transmission of the engine as one line of a CSV file, once it
// has ended, and reads the file back for the window. The engine's signals
// only start and end a transmission here; the file is written on a thread of
// its own, one line after the other, so that neither the engine nor the
// window ever waits for the disk. A transmission still on the air when the
// log goes is written as ended by "exit".
class TimeOnAirLog : public QObject
{
    Q_OBJECT

public:
    // The file moves to NAME.1 before it would grow past this.
    static constexpr qint64 MaxFileBytes = 1024 * 1024;
    static QByteArray header() { return QByteArrayLiteral("start,end,seconds,source,ending"); }
    // $XDG_STATE_HOME/zelvo-footswitch2/time-on-air.csv.
    static QString defaultFileName();

    explicit TimeOnAirLog(const QString &fileName = defaultFileName(), qint64 maxBytes = MaxFileBytes,
                          QObject *parent = nullptr);
    // Closes a transmission on the air as "exit" and waits for the last lines
    // to be written: for the end of the program, after the release.
    ~TimeOnAirLog() override;

    // For tests: the local time now.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    void follow(const KeyingEngine &engine);

    QString fileName() const { return m_file.fileName(); }
    // Today's and this week's totals and the latest transmissions, from the
    // file and the one before it, read on the log's thread after every line
    // asked for before.
    QFuture<TimeOnAirSummary> summary();
    static TimeOnAirSummary summarize(const QList<QByteArray> &lines, const QDateTime &now);

signals:
    // A transmission ended; its line is on its way to the file.
    void transmissionEnded(const Transmission &transmission);

private:
    void stateChanged(KeyingEngine::State state, KeyingEngine::Cause cause);
    void outputsKeyedChanged(int keyed);
    void end();

    const KeyingEngine *m_engine = nullptr;
    BoundedLineFile m_file;
    // One thread, so that lines are written and read in the order asked.
    QThreadPool m_writer;
    std::function<QDateTime()> m_clock = [] { return QDateTime::currentDateTime(); };
    // The transmission on the air, if any.
    std::optional<Transmission> m_onAir;
    // What keyed last and why the keying ended last, for the next start
    // and end.
    QString m_source;
    QString m_ending;
};
