#include "core/timeonairlog.h"

#include "platform/storage/statefolder.h"

#include <QDir>
#include <QFileInfo>
#include <QPromise>

#include <cstdlib>

namespace {

// ISO 8601 in local time with its offset from UTC, "+00:00" included, so
// that a line reads as the operator's clock said and still names one
// instant.
QByteArray isoLocal(const QDateTime &at)
{
    const QDateTime local = at.toLocalTime();
    const int offset = local.offsetFromUtc();
    return (local.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz"))
            + QString::asprintf("%c%02d:%02d", offset < 0 ? '-' : '+', std::abs(offset) / 3600,
                                std::abs(offset) % 3600 / 60))
        .toLatin1();
}

QString endingFor(KeyingEngine::Cause cause)
{
    switch (cause) {
    case KeyingEngine::Cause::Timeout:
        return QStringLiteral("time-out");
    case KeyingEngine::Cause::Inhibited:
        return QStringLiteral("inhibit");
    case KeyingEngine::Cause::InputLost:
    case KeyingEngine::Cause::OutputLost:
        return QStringLiteral("loss");
    case KeyingEngine::Cause::PortsClosed:
    case KeyingEngine::Cause::Shutdown:
        return QStringLiteral("exit");
    case KeyingEngine::Cause::Footswitch:
    case KeyingEngine::Cause::Operator:
    case KeyingEngine::Cause::Client:
    case KeyingEngine::Cause::OutputReady:
        break;
    }
    return QStringLiteral("release");
}

} // namespace

QByteArray Transmission::csvLine() const
{
    const qint64 ms = milliseconds();
    return isoLocal(start) + ',' + isoLocal(end) + ',' + QByteArray::number(ms / 1000) + '.'
        + QByteArray::number(ms % 1000).rightJustified(3, '0') + ',' + source.toUtf8() + ',' + ending.toUtf8();
}

std::optional<Transmission> Transmission::fromCsvLine(const QByteArray &line)
{
    const QList<QByteArray> fields = line.trimmed().split(',');
    if (fields.size() != 5)
        return std::nullopt;
    Transmission read{QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODateWithMs),
                      QDateTime::fromString(QString::fromLatin1(fields[1]), Qt::ISODateWithMs),
                      QString::fromUtf8(fields[3]), QString::fromUtf8(fields[4])};
    if (!read.start.isValid() || !read.end.isValid() || read.end < read.start)
        return std::nullopt;
    return read;
}

QString TimeOnAirLog::defaultFileName()
{
    return userStateFolder() + QStringLiteral("/zelvo-footswitch2/time-on-air.csv");
}

TimeOnAirLog::TimeOnAirLog(const QString &fileName, qint64 maxBytes, QObject *parent)
    : QObject(parent)
    , m_file(fileName, header(), maxBytes)
{
    m_writer.setMaxThreadCount(1);
    // The folder is there before the first transmission, for the window's
    // button that opens it.
    m_writer.start([folder = QFileInfo(fileName).absolutePath()] { QDir().mkpath(folder); });
}

TimeOnAirLog::~TimeOnAirLog()
{
    if (m_onAir) {
        m_ending = QStringLiteral("exit");
        end();
    }
    m_writer.waitForDone();
}

void TimeOnAirLog::follow(const KeyingEngine &engine)
{
    m_engine = &engine;
    connect(&engine, &KeyingEngine::stateChanged, this, &TimeOnAirLog::stateChanged);
    connect(&engine, &KeyingEngine::outputsKeyedChanged, this, &TimeOnAirLog::outputsKeyedChanged);
}

void TimeOnAirLog::stateChanged(KeyingEngine::State state, KeyingEngine::Cause cause)
{
    // A keyed state comes before its first output is keyed, a released one
    // before the release walk has ended: both are kept for that moment.
    if (KeyingEngine::isKeyed(state)) {
        m_source = m_engine->keyingSource();
        m_ending.clear();
    } else {
        m_ending = endingFor(cause);
    }
}

void TimeOnAirLog::outputsKeyedChanged(int keyed)
{
    // One transmission while any output is keyed, a release walk turned
    // round by a new press included.
    if (keyed > 0 && !m_onAir)
        m_onAir = Transmission{m_clock(), {}, m_source, {}};
    else if (keyed == 0 && m_onAir)
        end();
}

void TimeOnAirLog::end()
{
    m_onAir->end = m_clock();
    m_onAir->ending = m_ending.isEmpty() ? QStringLiteral("release") : m_ending;
    const Transmission ended = *m_onAir;
    m_onAir.reset();
    m_writer.start([file = m_file, line = ended.csvLine()] {
        const QString error = file.append(line);
        if (!error.isEmpty())
            qWarning("Time on air not written to %s: %s", qPrintable(file.fileName()), qPrintable(error));
    });
    emit transmissionEnded(ended);
}

QFuture<TimeOnAirSummary> TimeOnAirLog::summary()
{
    auto promise = std::make_shared<QPromise<TimeOnAirSummary>>();
    promise->start();
    m_writer.start([promise, file = m_file, now = m_clock()] {
        promise->addResult(summarize(file.lines(), now));
        promise->finish();
    });
    return promise->future();
}

TimeOnAirSummary TimeOnAirLog::summarize(const QList<QByteArray> &lines, const QDateTime &now)
{
    const QDate today = now.toLocalTime().date();
    const QDateTime midnight = today.startOfDay();
    const QDateTime weekStart = today.addDays(-6).startOfDay();
    // Only what lies in the period counts: a transmission over midnight
    // counts partly for each day.
    const auto within = [&now](const Transmission &transmission, const QDateTime &from) {
        const QDateTime start = qMax(transmission.start, from);
        const QDateTime end = qMin(transmission.end, now);
        return start < end ? start.msecsTo(end) : 0;
    };
    TimeOnAirSummary summary;
    for (const QByteArray &line : lines) {
        const std::optional<Transmission> transmission = Transmission::fromCsvLine(line);
        if (!transmission)
            continue;
        summary.todayMs += within(*transmission, midnight);
        summary.weekMs += within(*transmission, weekStart);
        summary.latest.prepend(*transmission);
        if (summary.latest.size() > TimeOnAirSummary::LatestCount)
            summary.latest.removeLast();
    }
    return summary;
}
