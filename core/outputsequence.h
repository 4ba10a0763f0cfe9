#pragma once

#include <QList>
#include <QtGlobal>

#include <optional>

// The order and timing in which a chain of outputs is keyed and released:
// a preamplifier relay, then an amplifier, then the radio. Keying walks
// 1 -> N; each output's lead is how long the next one waits after it keyed.
// Releasing walks N -> 1; each output's tail is how long it waits after the
// next one released. The keyed outputs always form a prefix 1..k: a later
// output is never keyed while an earlier one is released.
//
// A release in the middle of a key walk turns it around from where it
// stands, and a press in the middle of a release walk turns it forward
// again; a lead or a tail already running keeps its time. Pure logic on the
// caller's clock, in ticks of its choosing (ticksPerMs of them to the
// millisecond: the engine counts microseconds, so that no lead runs short by
// a clock's rounding): the caller applies the steps advance() returns, and
// calls it again at nextStepAt().
//
// Each lead and tail counts from the moment its step was taken (or, when the
// caller says so, from when its output had followed), not from when it was
// due: a caller that comes late (a busy machine, a loop held up) or an
// output slow to follow delays the rest of the walk instead of cutting a
// lead short, so that an amplifier never keys before its relay has had its
// time to settle.
class OutputSequence
{
public:
    static constexpr int maxTimingMs = 5000;

    struct Timing
    {
        int leadMs = 0;
        int tailMs = 0;
    };

    struct Step
    {
        int output = 0; // 0 for the first
        bool keyed = false;
        qint64 at = 0;

        bool operator==(const Step &) const = default;
    };

    // Leads and tails are kept within 0..maxTimingMs.
    explicit OutputSequence(const QList<Timing> &timings, qint64 ticksPerMs = 1);

    int outputCount() const { return int(m_outputs.size()); }
    // How many outputs are keyed now: outputs 0..keyedCount()-1.
    int keyedCount() const { return m_keyedCount; }
    bool wantsKeyed() const { return m_wantsKeyed; }
    // The longest a release walk can take: every tail.
    int releaseWalkMs() const;
    // Every output is where the last press or release wants it.
    bool isSettled() const;

    // A press (true) or a release (false) at `now`.
    void setWanted(bool keyed, qint64 now);
    // When the next step is due; empty when settled.
    std::optional<qint64> nextStepAt() const;
    // Takes every step due by `now`, in order, each at `now`; those
    // after a lead or tail above zero are then due later.
    QList<Step> advance(qint64 now);
    // Takes the first step due by `now`, if any: for a caller whose step
    // may fail and change what is wanted before the next one.
    std::optional<Step> takeStep(qint64 now);
    // The output of the step last taken had followed by `at` (a line
    // written, a command sent): the lead or tail after it counts from then.
    void stepTookEffect(qint64 at);
    // The last keyed output is released now, without its tail: for an end
    // with no time left to walk.
    void dropLast();

private:
    struct Output
    {
        Timing timing;
        std::optional<qint64> keyedAt;
        std::optional<qint64> releasedAt;
    };

    std::optional<qint64> dueAt() const;

    QList<Output> m_outputs;
    qint64 m_ticksPerMs = 1;
    int m_keyedCount = 0;
    bool m_wantsKeyed = false;
    qint64 m_wantedAt = 0;
    std::optional<Step> m_lastStep;
};
