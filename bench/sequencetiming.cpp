// Sequence benchmark: a chain of outputs keyed in order, in two parts.
//
//   timing  The real keying engine on the real clock and event loop, with
//           a chain of four relay outputs on recording ports, pressed and
//           released by its footswitch --cycles times (each press held past
//           the key walk, each pause past the release walk, both of random
//           length). Each output's RTS write is timed in the port's write
//           (CLOCK_MONOTONIC) against the moment its step was due (the
//           engine's debug log, "output N keyed at T due D", on the same
//           clock). Prints the error's p50, p99 and max per output for key
//           and release steps (target p99 <= 1 ms on a quiet machine; each
//           step is due its lead or tail after its neighbour was confirmed;
//           nothing is asserted),
//           and how often the time between two outputs' writes came out
//           shorter than the lead or tail between them.
//   order   --runs random press/release sequences (taps, reversals in the
//           middle of a walk, leads and tails 0 to 5000 ms, 1 to 4 outputs)
//           on OutputSequence on a simulated clock, its timer waking on
//           time or late as a loaded machine's does. Counts steps out of
//           order (a key not 1 -> N, a release not N -> 1, a later output
//           keyed while an earlier one is released), steps against the
//           wish, steps taken less than their lead or tail after their
//           neighbour was, and chains not released in the end; exits 1
//           when any of those is not 0.
//
//   build/bench/bench_sequencetiming [--cycles N] [--runs N] [--seed N]
//
// No serial port, real or pseudo, is opened: the ports are in memory.

#include "core/keyingengine.h"
#include "core/relaysettings.h"
#include "core/sequencesettings.h"
#include "platform/storage/qsettingsstore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

namespace {

constexpr int outputCount = 4;
// Output n (1..4) is on port n + 1; the footswitch on port 1.
constexpr int inputPort = 1;
int portOf(int output) { return output + 1; }

// Leads and tails of outputs 1 to 4, 0 to 50 ms. The last output's lead and
// tail never take effect (nothing follows it).
const int leadsMs[outputCount] = {30, 1, 50, 0};
const int tailsMs[outputCount] = {50, 0, 15, 0};

// One step the engine took: as logged (when due, when taken) and as
// written (the port).
struct Step
{
    int output = 0; // 1..outputCount
    bool keyed = false;
    qint64 dueUs = 0;
    qint64 takenUs = 0;
    std::optional<qint64> writtenNs;
};

// What the engine logs and the ports write, in order, on one clock.
class StepRecorder
{
public:
    explicit StepRecorder(const QElapsedTimer &clock) : m_clock(clock) {}

    void taken(int output, bool keyed, qint64 dueUs, qint64 takenUs)
    {
        m_steps.push_back({output, keyed, dueUs, takenUs, {}});
    }
    // An RTS write on a port: the write of the step just logged for it.
    void written(int port, bool on)
    {
        const qint64 now = m_clock.nsecsElapsed();
        if (!m_steps.empty() && !m_steps.back().writtenNs && portOf(m_steps.back().output) == port
            && m_steps.back().keyed == on)
            m_steps.back().writtenNs = now;
    }
    const std::vector<Step> &steps() const { return m_steps; }

private:
    const QElapsedTimer &m_clock;
    std::vector<Step> m_steps;
};

// The message handler is a plain function: it finds the recorder here.
StepRecorder *stepRecorder = nullptr;

void recordEngineMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    // Only the walk's timed steps say when they were due.
    static const QRegularExpression step(
        QStringLiteral("^output (\\d) (keyed|released) at (-?\\d+) due (-?\\d+)$"));
    const QRegularExpressionMatch match = step.match(message);
    if (match.hasMatch() && stepRecorder)
        stepRecorder->taken(match.captured(1).toInt(), match.captured(2) == QLatin1String("keyed"),
                            match.captured(4).toLongLong(), match.captured(3).toLongLong());
    else if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

// Ports in memory: the footswitch on CTS of port 1, which reports its
// changes as a driver that can wait for them does; relays on RTS of the
// others, every write handed to the recorder.
class RecordingPorts : public SerialPortFactory
{
public:
    explicit RecordingPorts(StepRecorder &recorder) : m_recorder(recorder) {}

    std::unique_ptr<SerialPortDevice> create(int number) override
    {
        if (number < 1 || number > portOf(outputCount))
            return nullptr;
        return std::make_unique<Device>(number, *this);
    }

    void setFootswitch(bool pressed)
    {
        m_cts = pressed;
        if (m_lineChanged)
            m_lineChanged();
    }

private:
    class Device : public SerialPortDevice
    {
    public:
        Device(int number, RecordingPorts &ports) : m_number(number), m_ports(ports) {}
        ~Device() override { close(); }

        bool open(const OpenLevels &) override { return true; }
        void close() override
        {
            if (m_number == inputPort)
                m_ports.m_lineChanged = nullptr;
        }
        bool setRts(bool on) override
        {
            m_ports.m_recorder.written(m_number, on);
            return true;
        }
        bool setDtr(bool) override { return true; }
        bool readLine(InputLine line, bool *asserted) override
        {
            *asserted = m_number == inputPort && line == InputLine::Cts && m_ports.m_cts;
            return true;
        }
        bool reportsLineChanges() const override { return m_number == inputPort; }
        void setLineChangeHandler(std::function<void()> handler) override
        {
            if (m_number == inputPort)
                m_ports.m_lineChanged = std::move(handler);
        }
        Failure failure() const override { return Failure::None; }
        QString errorString() const override { return {}; }

    private:
        int m_number;
        RecordingPorts &m_ports;
    };

    StepRecorder &m_recorder;
    bool m_cts = false;
    std::function<void()> m_lineChanged;
};

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool runUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        runFor(5);
    return done();
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

struct Percentiles
{
    std::size_t count = 0;
    double p50 = 0, p99 = 0, max = 0, min = 0;
};

Percentiles percentiles(std::vector<double> values)
{
    Percentiles result;
    if (values.empty())
        return result;
    std::sort(values.begin(), values.end());
    const auto rank = [&values](double p) {
        const auto index = std::size_t(std::ceil(p / 100.0 * double(values.size())));
        return values[std::clamp<std::size_t>(index, 1, values.size()) - 1];
    };
    result.count = values.size();
    result.p50 = rank(50);
    result.p99 = rank(99);
    result.max = values.back();
    result.min = values.front();
    return result;
}

void storeChain(QSettingsStore &settings)
{
    settings.save(RelaySettings::comPortIn, QString::number(inputPort));
    settings.save(RelaySettings::comPortOut, QString::number(portOf(1)));
    SequenceSettings::Sequence sequence;
    sequence.firstLeadMs = leadsMs[0];
    sequence.firstTailMs = tailsMs[0];
    for (int output = 2; output <= outputCount; ++output) {
        SequenceSettings::Output more;
        more.port = QString::number(portOf(output));
        more.leadMs = leadsMs[output - 1];
        more.tailMs = tailsMs[output - 1];
        sequence.more.append(more);
    }
    SequenceSettings::save(settings, sequence);
}

// Part 1. False when the engine could not be set up.
bool runTiming(int cycles, quint32 seed)
{
    QTemporaryDir dir;
    QSettingsStore settings(dir.filePath(QStringLiteral("Zelvo-Footswitch2.conf")));
    storeChain(settings);

    QElapsedTimer clock;
    clock.start();
    StepRecorder recorder(clock);
    RecordingPorts ports(recorder);
    KeyingEngine engine(ports);
    engine.setClock([&clock] { return clock.nsecsElapsed() / 1000; });
    engine.configure(settings);
    if (engine.outputCount() != outputCount) {
        std::fprintf(stderr, "the engine built %d outputs, not %d\n", engine.outputCount(), outputCount);
        return false;
    }
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &engine, &KeyingEngine::poll);
    poll.start(KeyingEngine::PollIntervalMs);
    engine.openPorts(QString::number(inputPort), QString::number(portOf(1)));
    if (!runUntil([&engine] { return engine.state() == KeyingEngine::State::Released; }, 5000)) {
        std::fprintf(stderr, "the outputs never became ready\n");
        return false;
    }

    int keyWalkMs = 0;
    int releaseWalkMs = 0;
    for (int output = 0; output + 1 < outputCount; ++output) {
        keyWalkMs += leadsMs[output];
        releaseWalkMs += tailsMs[output];
    }
    const int debounceMs = engine.options().debounceMs;
    QRandomGenerator random(seed);
    const QString loadBefore = loadAverage();
    QElapsedTimer took;
    took.start();
    QLoggingCategory::setFilterRules(QStringLiteral("zelvo.engine.debug=true"));
    stepRecorder = &recorder;
    const QtMessageHandler previous = qInstallMessageHandler(recordEngineMessage);
    for (int cycle = 0; cycle < cycles; ++cycle) {
        ports.setFootswitch(true);
        runFor(debounceMs + keyWalkMs + random.bounded(20, 250));
        ports.setFootswitch(false);
        runFor(debounceMs + releaseWalkMs + random.bounded(20, 250));
    }
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QStringLiteral("zelvo.engine.debug=false"));
    stepRecorder = nullptr;
    const double seconds = double(took.elapsed()) / 1000.0;

    // Errors per output and direction; the gaps between neighbours' writes.
    std::vector<double> errors[outputCount][2];
    int unwritten = 0;
    int dueEarly = 0;
    int gaps = 0;
    int shortGaps = 0;
    double shortestMarginMs = 1e9;
    const std::vector<Step> &steps = recorder.steps();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step &step = steps[i];
        if (!step.writtenNs) {
            ++unwritten;
            continue;
        }
        errors[step.output - 1][step.keyed ? 0 : 1].push_back(double(*step.writtenNs) / 1e6
                                                              - double(step.dueUs) / 1e3);
        // The step before it in the same walk: its neighbour, keyed before
        // it or released after it.
        if (i == 0 || steps[i - 1].keyed != step.keyed || !steps[i - 1].writtenNs)
            continue;
        const Step &before = steps[i - 1];
        const bool inWalk = step.keyed ? before.output == step.output - 1 : before.output == step.output + 1;
        if (!inWalk)
            continue;
        const int wantedMs = step.keyed ? leadsMs[before.output - 1] : tailsMs[step.output - 1];
        dueEarly += step.dueUs - before.takenUs >= wantedMs * 1000 ? 0 : 1;
        const double gapMs = double(*step.writtenNs - *before.writtenNs) / 1e6;
        ++gaps;
        shortGaps += gapMs < wantedMs - 1.0 ? 1 : 0;
        shortestMarginMs = std::min(shortestMarginMs, gapMs - wantedMs);
    }

    std::printf("timing: the keying engine, %d outputs on ports in memory, real clock and event loop\n",
                outputCount);
    std::printf("leads %d/%d/%d ms, tails %d/%d/%d ms (outputs 1/2/3; output 4 has nothing after it), "
                "debounce %d ms\n",
                leadsMs[0], leadsMs[1], leadsMs[2], tailsMs[0], tailsMs[1], tailsMs[2], debounceMs);
    std::printf("%d press/release cycles in %.0f s (seed %u); load average (1, 5, 15 min) before %s, after %s\n",
                cycles, seconds, seed, qPrintable(loadBefore), qPrintable(loadAverage()));
    std::printf("error of each write against the time its step was due, ms:\n");
    std::printf("%-7s %-4s %6s %6s %6s %6s %7s\n", "output", "step", "count", "min", "p50", "p99", "max");
    double worstP99 = 0;
    for (int output = 0; output < outputCount; ++output) {
        for (int direction = 0; direction < 2; ++direction) {
            const Percentiles p = percentiles(errors[output][direction]);
            worstP99 = std::max(worstP99, p.p99);
            std::printf("%-7d %-4s %6zu %6.2f %6.2f %6.2f %7.2f\n", output + 1, direction == 0 ? "key" : "rel",
                        p.count, p.min, p.p50, p.p99, p.max);
        }
    }
    std::printf("target p99 <= 1 ms: %s (worst p99 %.2f ms)\n", worstP99 <= 1.0 ? "met" : "NOT met", worstP99);
    std::printf("steps logged without their write: %d; steps due less than their lead or tail after their "
                "neighbour was taken: %d\n",
                unwritten, dueEarly);
    std::printf("written gaps between neighbours shorter than their lead or tail - 1 ms: %d of %d "
                "(smallest gap minus lead or tail: %.2f ms)\n",
                shortGaps, gaps, gaps ? shortestMarginMs : 0.0);
    return true;
}

struct OrderCounts
{
    qint64 steps = 0;
    qint64 late = 0; // taken after they were due, by a late timer
    int outOfOrder = 0;
    int againstWish = 0;
    int cutShort = 0;
    int unsettled = 0;

    int faults() const { return outOfOrder + againstWish + cutShort + unsettled; }
};

// Part 2: one random sequence, checked against a model of its own.
void runOneOrder(QRandomGenerator &random, OrderCounts &counts)
{
    const int n = random.bounded(1, outputCount + 1);
    QList<OutputSequence::Timing> timings;
    const auto randomTime = [&random] {
        return random.bounded(5) == 0 ? 0 : random.bounded(1, OutputSequence::maxTimingMs + 1);
    };
    int walkMs = 0;
    for (int i = 0; i < n; ++i) {
        timings.append({randomTime(), randomTime()});
        walkMs += timings.last().leadMs + timings.last().tailMs;
    }
    OutputSequence sequence(timings);
    // How late the simulated timer may wake: on time in half the runs.
    const int lateMs = random.bounded(2) == 0 ? 0 : random.bounded(1, 300);

    std::vector<bool> keyed(size_t(n), false);
    // When each output was last keyed and released, on the simulated clock.
    std::vector<std::optional<qint64>> keyedAt(size_t(n), std::nullopt), releasedAt = keyedAt;
    bool wanted = false;
    qint64 wantedAt = 0;
    qint64 now = 0;

    const auto take = [&](qint64 at) {
        for (;;) {
            const std::optional<qint64> due = sequence.nextStepAt();
            const std::optional<OutputSequence::Step> step = sequence.takeStep(at);
            if (!step)
                break;
            ++counts.steps;
            counts.late += *due < at ? 1 : 0;
            const auto i = size_t(step->output);
            const auto firstReleased = size_t(std::find(keyed.begin(), keyed.end(), false) - keyed.begin());
            counts.againstWish += step->keyed == wanted && at >= wantedAt ? 0 : 1;
            if (step->keyed) {
                counts.outOfOrder += i == firstReleased ? 0 : 1;
                if (i > 0)
                    counts.cutShort += at >= *keyedAt[i - 1] + timings.at(int(i) - 1).leadMs ? 0 : 1;
                keyed[i] = true;
                keyedAt[i] = at;
            } else {
                counts.outOfOrder += firstReleased > 0 && i == firstReleased - 1 ? 0 : 1;
                // The tail counts when the next output keyed and released
                // while this one was keyed.
                if (i + 1 < size_t(n) && releasedAt[i + 1] && *releasedAt[i + 1] >= *keyedAt[i])
                    counts.cutShort += at >= *releasedAt[i + 1] + timings.at(int(i)).tailMs ? 0 : 1;
                keyed[i] = false;
                releasedAt[i] = at;
            }
            // The keyed outputs must be a prefix 1..k after every step.
            const auto released = std::find(keyed.begin(), keyed.end(), false);
            counts.outOfOrder += std::find(released, keyed.end(), true) == keyed.end() ? 0 : 1;
        }
    };
    // The timer's wakes up to `until` (each at its step's time, or late).
    const auto wakeUntil = [&](qint64 until) {
        while (const std::optional<qint64> due = sequence.nextStepAt()) {
            const qint64 wake = std::max(now, *due) + (lateMs ? random.bounded(lateMs + 1) : 0);
            if (wake > until)
                break;
            now = wake;
            take(now);
        }
    };

    for (int event = 0, events = random.bounded(1, 21); event < events; ++event) {
        qint64 gap = 0;
        switch (random.bounded(3)) {
        case 0: gap = random.bounded(0, 30); break;          // a tap
        case 1: gap = random.bounded(0, walkMs + 1); break;  // in the middle of a walk
        default: gap = walkMs + random.bounded(0, 3000); break;
        }
        const qint64 until = now + gap;
        wakeUntil(until);
        now = until;
        take(now);
        // A press or a release; the same as the last one changes nothing.
        const bool press = random.bounded(2) == 1;
        if (press != wanted) {
            wanted = press;
            wantedAt = now;
        }
        sequence.setWanted(wanted, now);
        take(now);
    }
    if (wanted) {
        wanted = false;
        wantedAt = now;
    }
    sequence.setWanted(false, now);
    take(now);
    wakeUntil(std::numeric_limits<qint64>::max());
    counts.unsettled += std::count(keyed.begin(), keyed.end(), true) == 0 && sequence.keyedCount() == 0 ? 0 : 1;
}

int runOrder(int runs, quint32 seed)
{
    QRandomGenerator random(seed);
    OrderCounts counts;
    QElapsedTimer took;
    took.start();
    for (int run = 0; run < runs; ++run)
        runOneOrder(random, counts);
    std::printf("order: %d random press/release sequences on OutputSequence, simulated clock (seed %u), "
                "%lld steps in %.1f s\n",
                runs, seed, counts.steps, double(took.elapsed()) / 1000.0);
    std::printf("steps taken late by the simulated timer (0 to 300 ms, in half the sequences): %lld\n", counts.late);
    std::printf("order violations: %d; steps against the wish: %d; steps less than their lead or tail after "
                "their neighbour's: %d; chains not released in the end: %d\n",
                counts.outOfOrder, counts.againstWish, counts.cutShort, counts.unsettled);
    return counts.faults() == 0 ? 0 : 1;
}

int option(const QStringList &arguments, const QString &name, int fallback)
{
    const qsizetype at = arguments.indexOf(name);
    return at > 0 && at + 1 < arguments.size() ? arguments.at(at + 1).toInt() : fallback;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int cycles = option(arguments, QStringLiteral("--cycles"), 300);
    const int runs = option(arguments, QStringLiteral("--runs"), 10000);
    const auto seed = quint32(option(arguments, QStringLiteral("--seed"),
                                     int(QRandomGenerator::global()->bounded(1000000))));
    if (!runTiming(cycles, seed))
        return 2;
    std::printf("\n");
    return runOrder(runs, seed);
}
