#include "core/footswitchdetector.h"

#include "core/stationsettings.h"

#include <QStringList>

#include <optional>

namespace {

constexpr int lineCount = 4;

// "CTS", "CTS and DSR", "CTS, DSR and DCD".
QString joinedNames(const QStringList &names)
{
    if (names.size() < 2)
        return names.join(QString());
    return names.mid(0, names.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + names.last();
}

} // namespace

FootswitchDetector::FootswitchDetector(int bounceMs)
    : m_bounceMs(bounceMs)
{
}

void FootswitchDetector::add(qint64 ms, const Levels &levels)
{
    m_samples.append({ms, levels});
}

FootswitchDetector::LineHistory FootswitchDetector::history(int line) const
{
    // The reads as runs of one level, each from its first read to the first
    // read of another level (or the last read). A run shorter than the
    // bounce time is bounce or a spike: it neither changes the level nor
    // counts as time at one.
    LineHistory history;
    std::optional<bool> first;
    bool level = false;
    std::array<qint64, 2> held{}; // low, high
    qsizetype runStart = 0;
    for (qsizetype i = 1; i <= m_samples.size(); ++i) {
        const bool runEnds = i == m_samples.size()
                             || m_samples[i].levels[size_t(line)] != m_samples[runStart].levels[size_t(line)];
        if (!runEnds)
            continue;
        const bool runLevel = m_samples[runStart].levels[size_t(line)];
        const qint64 length = m_samples[qMin(i, m_samples.size() - 1)].ms - m_samples[runStart].ms;
        runStart = i;
        if (length < m_bounceMs)
            continue;
        if (!first)
            first = level = runLevel;
        if (runLevel != level) {
            level = runLevel;
            ++history.changes;
        }
        held[runLevel] += length;
    }
    // Someone who presses and releases starts and ends at rest; one who was
    // still pressing at the start or the end was at rest most of the time.
    history.restsHigh = first && (level == *first ? level : held[1] > held[0]);
    return history;
}

FootswitchDetector::Result FootswitchDetector::result() const
{
    QStringList moved;
    QStringList movedOnce;
    Result result;
    for (int line = 0; line < lineCount; ++line) {
        const LineHistory seen = history(line);
        const QString name = StationSettings::footswitchLineText(InputLine(line));
        if (seen.changes >= 2) {
            moved.append(name);
            result.line = InputLine(line);
            result.inverted = seen.restsHigh;
        } else if (seen.changes == 1) {
            movedOnce.append(name);
        }
    }
    if (moved.size() == 1) {
        result.outcome = Outcome::Found;
        result.sentence = QStringLiteral("%1 goes %2 when pressed: a normally %3 switch on %1.")
                              .arg(moved.front(), result.inverted ? QStringLiteral("low") : QStringLiteral("high"),
                                   result.inverted ? QStringLiteral("closed") : QStringLiteral("open"));
        return result;
    }
    result = Result{};
    if (moved.size() > 1) {
        static const char *const counts[] = {"", "", "Two", "Three", "Four"};
        result.outcome = Outcome::SeveralLines;
        result.sentence = QStringLiteral("%1 lines changed: %2. A footswitch moves one line only: check the "
                                         "wiring for a short between them.")
                              .arg(QLatin1String(counts[moved.size()]), joinedNames(moved));
    } else if (!movedOnce.isEmpty()) {
        result.sentence = QStringLiteral("%1 changed only once: press and release the footswitch a few times "
                                         "while it listens.")
                              .arg(joinedNames(movedOnce));
    } else {
        result.sentence = QStringLiteral("Nothing changed on CTS, DSR, DCD or RI. Check the wiring, and that the "
                                         "switch is fed from RTS or DTR of this port.");
    }
    return result;
}
